// Per-bin single-precision kernels of the correlation worker, with the phase
// tables they read and the dither generator.
//
// Spectra are interleaved (re, im) float pairs, bin 0 first, every array on a
// 16-byte boundary. Phases are unsigned 64-bit fractions of a turn (2^64 is a
// turn) and wrap modulo 2^64. The kernels trust their caller on sizes and
// alignment: n is the bin count; n / 2 two-bin blocks are processed, so the
// last bin of an odd n is left untouched and n <= 1 does nothing.
#pragma once

#include <cstdint>

namespace korva {

// sin and cos of 2 pi k / 256, k = 0..255; filled by build_phase_tables.
alignas(16) extern float sin_table[256];
alignas(16) extern float cos_table[256];

// Fills sin_table and cos_table. Call once before any kernel runs.
void build_phase_tables();

// out = in * exp(+2 pi j q_b / 256) per two-bin block b, q_b the top 8 bits of
// phase + 2 b step. in and out are distinct.
void rotate_spectrum(const float* in, float* out, uint64_t phase, uint64_t step, int32_t n);

// acc += a * conj(b) per bin; a and b may be the same array.
void cross_multiply_accumulate(const float* a, const float* b, float* acc, int32_t n);

// MT19937-64 with the published reference parameters and seeding.
class dither_generator {
 public:
  explicit dither_generator(uint64_t seed = 5489u) { this->seed(seed); }
  void seed(uint64_t s);
  uint64_t next();

 private:
  uint64_t state_[312];
  int index_;
};

}  // namespace korva
