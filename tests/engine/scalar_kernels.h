// The spectrum kernels' scalar formulas, one bin at a time, whole two-bin
// blocks only: the oracle every kernel path is compared with, bit for bit.
#pragma once

#include <cstdint>

#include "spectrum_kernels.h"

namespace korva::testing {

// The tables every rotation of the tests reads.
inline const phase_tables& tables() {
  static const phase_tables built;
  return built;
}

inline void scalar_rotate(const float* in, float* out, uint64_t phase, uint64_t step, int n) {
  for (int k = 0; k < n - n % 2; ++k) {
    const uint64_t p = phase + static_cast<uint64_t>(k - k % 2) * step;
    const float si = tables().sin[p >> 56];
    const float co = tables().cos[p >> 56];
    const float re = in[2 * k], im = in[2 * k + 1];
    out[2 * k] = re * co - im * si;
    out[2 * k + 1] = im * co + re * si;
  }
}

inline void scalar_multiply_accumulate(const float* a, const float* b, float* acc, int n) {
  for (int k = 0; k < n - n % 2; ++k) {
    const float ar = a[2 * k], ai = a[2 * k + 1], br = b[2 * k], bi = b[2 * k + 1];
    acc[2 * k] = (acc[2 * k] + ar * br) + ai * bi;
    acc[2 * k + 1] = (acc[2 * k + 1] - ar * bi) + ai * br;
  }
}

}  // namespace korva::testing
