// Spectrum kernels with 512-bit AVX-512: one vector holds four two-bin
// blocks. Lane by lane they do the multiplications and additions of the SSE
// blocks (spectrum_kernel_blocks.h) in the same order; this file is compiled
// for AVX-512F only, and no product is fused into an addition. Blocks before
// the first 64-byte aligned output vector and after the last whole vector
// take the 128-bit step. Called only where the CPU has AVX-512F.
#include <immintrin.h>

#include <cstdint>

#include "kernel_paths.h"
#include "spectrum_kernel_blocks.h"

#pragma GCC push_options
#pragma GCC target("avx512f")

namespace korva {
namespace {

// The unmasked forms of the lane moves below start from an undefined vector,
// which GCC 12 reports as maybe uninitialised; the masked forms with a full
// mask are the same instructions.
constexpr __mmask16 all_lanes = 0xFFFF;

// (re, im) -> (im, re) in all eight bins.
inline __m512 swap_re_im(__m512 x) { return _mm512_mask_permute_ps(x, all_lanes, x, _MM_SHUFFLE(2, 3, 0, 1)); }

// Table entries of the four phases, each broadcast over its block.
inline __m512 per_block(const float* table, uint64_t p0, uint64_t p1, uint64_t p2, uint64_t p3) {
  __m512 v = _mm512_castps128_ps512(_mm_broadcast_ss(table + (p0 >> 56)));
  v = _mm512_insertf32x4(v, _mm_broadcast_ss(table + (p1 >> 56)), 1);
  v = _mm512_insertf32x4(v, _mm_broadcast_ss(table + (p2 >> 56)), 2);
  return _mm512_insertf32x4(v, _mm_broadcast_ss(table + (p3 >> 56)), 3);
}

// Four blocks of rotate_block at once; p holds the four phases.
inline __m512 rotate_quad(const phase_tables& tables, __m512 x, const uint64_t (&p)[4], __m512 signs) {
  const __m512 si = per_block(tables.sin, p[0], p[1], p[2], p[3]);
  const __m512 co = per_block(tables.cos, p[0], p[1], p[2], p[3]);
  const __m512 cross = swap_re_im(_mm512_mul_ps(_mm512_mul_ps(x, si), signs));
  return _mm512_add_ps(_mm512_mul_ps(x, co), cross);
}

// Four blocks of multiply_accumulate_block at once.
inline __m512 multiply_accumulate_quad(__m512 acc, __m512 a, __m512 b, __m512 signs) {
  const __m512 a_re = _mm512_mask_moveldup_ps(a, all_lanes, a);
  const __m512 a_im = _mm512_mask_movehdup_ps(a, all_lanes, a);
  acc = _mm512_add_ps(acc, _mm512_mul_ps(_mm512_mul_ps(b, signs), a_re));
  return _mm512_add_ps(acc, _mm512_mul_ps(swap_re_im(b), a_im));
}

}  // namespace

void rotate_spectrum_avx512(const phase_tables& tables, const float* in, float* out, uint64_t phase,
                            uint64_t step, int32_t n) {
  const int32_t blocks = n / 2;
  if (blocks <= 0) return;
  const __m512 signs = _mm512_load_ps(kernel_blocks::conjugate_signs);
  const uint64_t block_step = 2 * step;
  uint64_t p = phase;
  int32_t b = 0;
  for (const int32_t lead = kernel_blocks::blocks_before_alignment(out, blocks, 64); b < lead; ++b) {
    kernel_blocks::rotate_one(tables, in, out, b, p);
    p += block_step;
  }
  for (; b + 4 <= blocks; b += 4) {  // four blocks, one vector, per round
    uint64_t q[4];
    q[0] = p;
    q[1] = q[0] + block_step;
    q[2] = q[1] + block_step;
    q[3] = q[2] + block_step;
    _mm512_store_ps(out + 4 * b, rotate_quad(tables, _mm512_loadu_ps(in + 4 * b), q, signs));
    p = q[3] + block_step;
  }
  for (; b < blocks; ++b) {
    kernel_blocks::rotate_one(tables, in, out, b, p);
    p += block_step;
  }
}

void cross_multiply_accumulate_avx512(const float* a, const float* b, float* acc, int32_t n) {
  const int32_t blocks = n / 2;
  if (blocks <= 0) return;
  const __m512 signs = _mm512_load_ps(kernel_blocks::conjugate_signs);
  int32_t k = 0;
  for (const int32_t lead = kernel_blocks::blocks_before_alignment(acc, blocks, 64); k < lead; ++k) {
    kernel_blocks::multiply_accumulate_one(a, b, acc, k);
  }
  for (; k + 8 <= blocks; k += 8) {  // eight blocks, two vectors, per round
    const int32_t i = 4 * k;
    const __m512 r0 = multiply_accumulate_quad(_mm512_load_ps(acc + i), _mm512_loadu_ps(a + i),
                                               _mm512_loadu_ps(b + i), signs);
    const __m512 r1 = multiply_accumulate_quad(_mm512_load_ps(acc + i + 16), _mm512_loadu_ps(a + i + 16),
                                               _mm512_loadu_ps(b + i + 16), signs);
    _mm512_store_ps(acc + i, r0);
    _mm512_store_ps(acc + i + 16, r1);
  }
  for (; k + 4 <= blocks; k += 4) {
    const int32_t i = 4 * k;
    _mm512_store_ps(acc + i, multiply_accumulate_quad(_mm512_load_ps(acc + i), _mm512_loadu_ps(a + i),
                                                      _mm512_loadu_ps(b + i), signs));
  }
  for (; k < blocks; ++k) kernel_blocks::multiply_accumulate_one(a, b, acc, k);
}

}  // namespace korva

#pragma GCC pop_options
