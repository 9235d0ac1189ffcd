// Spectrum kernels with 256-bit AVX2: one vector holds two two-bin blocks.
// Lane by lane they do the multiplications and additions of the SSE blocks
// (spectrum_kernel_blocks.h) in the same order; this file is compiled for
// AVX2 only (no FMA), so no product is fused into an addition. Blocks before
// the first 32-byte aligned output vector and after the last whole vector
// take the 128-bit step. Called only where the CPU has AVX2.
#include <immintrin.h>

#include <cstdint>

#include "kernel_paths.h"
#include "spectrum_kernel_blocks.h"

#pragma GCC push_options
#pragma GCC target("avx2")

namespace korva {
namespace {

// (re, im) -> (im, re) in all four bins.
inline __m256 swap_re_im(__m256 x) { return _mm256_permute_ps(x, _MM_SHUFFLE(2, 3, 0, 1)); }

// (cos, sin) of the table entries of phases p0 and p1: cos0, sin0, cos1, sin1.
inline __m128 cos_sin_pair(const phase_tables& tables, uint64_t p0, uint64_t p1) {
  const __m128i low = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(tables.cos_sin[p0 >> 56]));
  const __m128i high = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(tables.cos_sin[p1 >> 56]));
  return _mm_castsi128_ps(_mm_unpacklo_epi64(low, high));
}

// Two blocks of rotate_block at once: the sin and cos of block 0 (lanes
// 0-3) and block 1 (lanes 4-7) are moved out of cos_sin.
inline __m256 rotate_pair(__m256 x, __m128 cos_sin, __m256 signs) {
  const __m256 pairs = _mm256_castps128_ps256(cos_sin);
  const __m256 co = _mm256_permutevar8x32_ps(pairs, _mm256_setr_epi32(0, 0, 0, 0, 2, 2, 2, 2));
  const __m256 si = _mm256_permutevar8x32_ps(pairs, _mm256_setr_epi32(1, 1, 1, 1, 3, 3, 3, 3));
  const __m256 cross = swap_re_im(_mm256_mul_ps(_mm256_mul_ps(x, si), signs));
  return _mm256_add_ps(_mm256_mul_ps(x, co), cross);
}

// Two blocks of multiply_accumulate_block at once.
inline __m256 multiply_accumulate_pair(__m256 acc, __m256 a, __m256 b, __m256 signs) {
  const __m256 a_re = _mm256_moveldup_ps(a);
  const __m256 a_im = _mm256_movehdup_ps(a);
  acc = _mm256_add_ps(acc, _mm256_mul_ps(_mm256_mul_ps(b, signs), a_re));
  return _mm256_add_ps(acc, _mm256_mul_ps(swap_re_im(b), a_im));
}

}  // namespace

void rotate_spectrum_avx2(const phase_tables& tables, const float* in, float* out, uint64_t phase, uint64_t step,
                          int32_t n) {
  const int32_t blocks = n / 2;
  if (blocks <= 0) return;
  const __m256 signs = _mm256_load_ps(kernel_blocks::conjugate_signs);
  const uint64_t block_step = 2 * step;
  uint64_t p = phase;
  int32_t b = 0;
  for (const int32_t lead = kernel_blocks::blocks_before_alignment(out, blocks, 32); b < lead; ++b) {
    kernel_blocks::rotate_one(tables, in, out, b, p);
    p += block_step;
  }
  // Each phase is the round's first plus a multiple of the block step, so
  // the four depend on one addition per round (modulo 2^64 the sums equal
  // those of repeated addition).
  const uint64_t step2 = 2 * block_step, step3 = 3 * block_step, step4 = 4 * block_step;
  for (; b + 4 <= blocks; b += 4) {  // four blocks, two vectors, per round
    const __m256 x0 = _mm256_loadu_ps(in + 4 * b);
    const __m256 x1 = _mm256_loadu_ps(in + 4 * b + 8);
    _mm256_store_ps(out + 4 * b, rotate_pair(x0, cos_sin_pair(tables, p, p + block_step), signs));
    _mm256_store_ps(out + 4 * b + 8, rotate_pair(x1, cos_sin_pair(tables, p + step2, p + step3), signs));
    p += step4;
  }
  for (; b < blocks; ++b) {
    kernel_blocks::rotate_one(tables, in, out, b, p);
    p += block_step;
  }
}

void cross_multiply_accumulate_avx2(const float* a, const float* b, float* acc, int32_t n) {
  const int32_t blocks = n / 2;
  if (blocks <= 0) return;
  const __m256 signs = _mm256_load_ps(kernel_blocks::conjugate_signs);
  int32_t k = 0;
  for (const int32_t lead = kernel_blocks::blocks_before_alignment(acc, blocks, 32); k < lead; ++k) {
    kernel_blocks::multiply_accumulate_one(a, b, acc, k);
  }
  for (; k + 8 <= blocks; k += 8) {  // eight blocks, four vectors, per round
    const int32_t i = 4 * k;
    const __m256 r0 = multiply_accumulate_pair(_mm256_load_ps(acc + i), _mm256_loadu_ps(a + i),
                                               _mm256_loadu_ps(b + i), signs);
    const __m256 r1 = multiply_accumulate_pair(_mm256_load_ps(acc + i + 8), _mm256_loadu_ps(a + i + 8),
                                               _mm256_loadu_ps(b + i + 8), signs);
    const __m256 r2 = multiply_accumulate_pair(_mm256_load_ps(acc + i + 16), _mm256_loadu_ps(a + i + 16),
                                               _mm256_loadu_ps(b + i + 16), signs);
    const __m256 r3 = multiply_accumulate_pair(_mm256_load_ps(acc + i + 24), _mm256_loadu_ps(a + i + 24),
                                               _mm256_loadu_ps(b + i + 24), signs);
    _mm256_store_ps(acc + i, r0);
    _mm256_store_ps(acc + i + 8, r1);
    _mm256_store_ps(acc + i + 16, r2);
    _mm256_store_ps(acc + i + 24, r3);
  }
  for (; k + 2 <= blocks; k += 2) {
    const int32_t i = 4 * k;
    _mm256_store_ps(acc + i, multiply_accumulate_pair(_mm256_load_ps(acc + i), _mm256_loadu_ps(a + i),
                                                      _mm256_loadu_ps(b + i), signs));
  }
  for (; k < blocks; ++k) kernel_blocks::multiply_accumulate_one(a, b, acc, k);
}

}  // namespace korva

#pragma GCC pop_options
