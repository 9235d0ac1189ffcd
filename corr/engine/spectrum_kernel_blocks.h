// The two-bin (one 128-bit vector) steps of the spectrum kernels, shared by
// every path: the SSE path is built of them, and the wider paths use them for
// the blocks before their first aligned vector and after their last one.
// The wider paths repeat exactly these operations lane by lane.
// Internal to the kernels.
#pragma once

#include <xmmintrin.h>

#include <cstdint>

#include "spectrum_kernels.h"

namespace korva::kernel_blocks {

// Negates the imaginary lanes of complex values by multiplication.
alignas(64) inline constexpr float conjugate_signs[16] = {+1.0f, -1.0f, +1.0f, -1.0f, +1.0f, -1.0f,
                                                          +1.0f, -1.0f, +1.0f, -1.0f, +1.0f, -1.0f,
                                                          +1.0f, -1.0f, +1.0f, -1.0f};

// (re, im) -> (im, re) in both bins.
inline __m128 swap_re_im(__m128 x) { return _mm_shuffle_ps(x, x, _MM_SHUFFLE(2, 3, 0, 1)); }

// One two-bin block times exp(+2 pi j q / 256), q the top 8 bits of phase:
// (re co + -(im si), im co + re si).
inline __m128 rotate_block(const phase_tables& tables, __m128 x, uint64_t phase, __m128 signs) {
  const unsigned q = static_cast<unsigned>(phase >> 56);
  const __m128 si = _mm_set1_ps(tables.sin[q]);
  const __m128 co = _mm_set1_ps(tables.cos[q]);
  const __m128 cross = swap_re_im(_mm_mul_ps(_mm_mul_ps(x, si), signs));  // (-im si, re si)
  return _mm_add_ps(_mm_mul_ps(x, co), cross);
}

// acc + a conj(b) for one two-bin block:
// ((acc.re + ar br) + ai bi, (acc.im + -(ar bi)) + ai br).
inline __m128 multiply_accumulate_block(__m128 acc, __m128 a, __m128 b, __m128 signs) {
  const __m128 a_re = _mm_shuffle_ps(a, a, _MM_SHUFFLE(2, 2, 0, 0));
  const __m128 a_im = _mm_shuffle_ps(a, a, _MM_SHUFFLE(3, 3, 1, 1));
  acc = _mm_add_ps(acc, _mm_mul_ps(_mm_mul_ps(b, signs), a_re));  // (+ ar br, - ar bi)
  return _mm_add_ps(acc, _mm_mul_ps(swap_re_im(b), a_im));        // (+ ai bi, + ai br)
}

// Rotates block b (bins 2b, 2b + 1) in place of out.
inline void rotate_one(const phase_tables& tables, const float* in, float* out, int32_t b, uint64_t phase) {
  const __m128 signs = _mm_load_ps(conjugate_signs);
  _mm_store_ps(out + 4 * b, rotate_block(tables, _mm_load_ps(in + 4 * b), phase, signs));
}

// Accumulates block b.
inline void multiply_accumulate_one(const float* a, const float* b, float* acc, int32_t block) {
  const __m128 signs = _mm_load_ps(conjugate_signs);
  const int32_t i = 4 * block;
  _mm_store_ps(acc + i, multiply_accumulate_block(_mm_load_ps(acc + i), _mm_load_ps(a + i), _mm_load_ps(b + i),
                                                  signs));
}

// Blocks before the first one whose output address is a multiple of `bytes`
// (at most blocks).
inline int32_t blocks_before_alignment(const float* out, int32_t blocks, unsigned bytes) {
  const auto offset = static_cast<unsigned>(reinterpret_cast<uintptr_t>(out) & (bytes - 1));
  const int32_t lead = offset == 0 ? 0 : static_cast<int32_t>((bytes - offset) / 16);
  return lead < blocks ? lead : blocks;
}

}  // namespace korva::kernel_blocks
