// Spectrum kernels with 128-bit SSE, the portable path: one vector holds two
// complex bins. The vector forms perform, lane by lane, exactly the single-precision
// operations of the scalar formulas in the header (x - y is evaluated as
// x + (-y), which IEEE arithmetic defines to be the same value), so results
// are bit-identical to a plain scalar loop.
#include "spectrum_kernels.h"

#include <xmmintrin.h>

#include <cmath>

#include "kernel_paths.h"
#include "math_constants.h"
#include "spectrum_kernel_blocks.h"

namespace korva {

phase_tables::phase_tables() {
  for (int k = 0; k < 256; ++k) {
    const double x = static_cast<double>(static_cast<long double>(two_pi) * k * 0.00390625L);
    sin[k] = static_cast<float>(std::sin(x));
    cos[k] = static_cast<float>(std::cos(x));
    cos_sin[k][0] = cos[k];
    cos_sin[k][1] = sin[k];
  }
}

using kernel_blocks::multiply_accumulate_block;
using kernel_blocks::rotate_block;

void rotate_spectrum_sse(const phase_tables& tables, const float* in, float* out, uint64_t phase, uint64_t step,
                         int32_t n) {
  const int32_t blocks = n / 2;
  if (blocks <= 0) return;
  const __m128 signs = _mm_load_ps(kernel_blocks::conjugate_signs);
  const uint64_t block_step = 2 * step;
  uint64_t p = phase;
  int32_t b = 0;
  if (blocks % 2 != 0) {  // odd block first, then pairs of blocks
    _mm_store_ps(out, rotate_block(tables, _mm_load_ps(in), p, signs));
    p += block_step;
    b = 1;
  }
  for (; b < blocks; b += 2) {
    const __m128 x0 = _mm_load_ps(in + 4 * b);
    const __m128 x1 = _mm_load_ps(in + 4 * b + 4);
    const uint64_t p1 = p + block_step;
    _mm_store_ps(out + 4 * b, rotate_block(tables, x0, p, signs));
    _mm_store_ps(out + 4 * b + 4, rotate_block(tables, x1, p1, signs));
    p = p1 + block_step;
  }
}

void cross_multiply_accumulate_sse(const float* a, const float* b, float* acc, int32_t n) {
  const int32_t blocks = n / 2;
  if (blocks <= 0) return;
  const __m128 signs = _mm_load_ps(kernel_blocks::conjugate_signs);
  int32_t k = 0;
  for (; k < blocks % 4; ++k) kernel_blocks::multiply_accumulate_one(a, b, acc, k);  // remainder first
  for (; k < blocks; k += 4) {
    const int32_t i = 4 * k;
    const __m128 r0 = multiply_accumulate_block(_mm_load_ps(acc + i), _mm_load_ps(a + i),
                                                _mm_load_ps(b + i), signs);
    const __m128 r1 = multiply_accumulate_block(_mm_load_ps(acc + i + 4), _mm_load_ps(a + i + 4),
                                                _mm_load_ps(b + i + 4), signs);
    const __m128 r2 = multiply_accumulate_block(_mm_load_ps(acc + i + 8), _mm_load_ps(a + i + 8),
                                                _mm_load_ps(b + i + 8), signs);
    const __m128 r3 = multiply_accumulate_block(_mm_load_ps(acc + i + 12), _mm_load_ps(a + i + 12),
                                                _mm_load_ps(b + i + 12), signs);
    _mm_store_ps(acc + i, r0);
    _mm_store_ps(acc + i + 4, r1);
    _mm_store_ps(acc + i + 8, r2);
    _mm_store_ps(acc + i + 12, r3);
  }
}

void rotate_spectrum(const phase_tables& tables, const float* in, float* out, uint64_t phase, uint64_t step,
                     int32_t n) {
  active_spectrum_kernels().rotate(tables, in, out, phase, step, n);
}

void cross_multiply_accumulate(const float* a, const float* b, float* acc, int32_t n) {
  active_spectrum_kernels().multiply_accumulate(a, b, acc, n);
}

// MT19937-64 reference parameters.
namespace {
constexpr int mt_words = 312;
constexpr int mt_middle = 156;
constexpr uint64_t mt_matrix = 0xB5026F5AA96619E9ULL;
constexpr uint64_t mt_upper = 0xFFFFFFFF80000000ULL;  // top 33 bits
constexpr uint64_t mt_lower = 0x000000007FFFFFFFULL;  // low 31 bits
constexpr uint64_t mt_seed_multiplier = 6364136223846793005ULL;

inline uint64_t twist(uint64_t upper_from, uint64_t lower_from, uint64_t far) {
  const uint64_t x = (upper_from & mt_upper) | (lower_from & mt_lower);
  return far ^ (x >> 1) ^ ((0 - (x & 1)) & mt_matrix);
}
}  // namespace

void dither_generator::seed(uint64_t s) {
  state_[0] = s;
  for (int i = 1; i < mt_words; ++i) {
    state_[i] = mt_seed_multiplier * (state_[i - 1] ^ (state_[i - 1] >> 62)) + static_cast<uint64_t>(i);
  }
  index_ = mt_words;  // regenerate on the next draw
}

void dither_generator::regenerate() {
  int i = 0;
  for (; i < mt_words - mt_middle; ++i) {
    state_[i] = twist(state_[i], state_[i + 1], state_[i + mt_middle]);
  }
  for (; i < mt_words - 1; ++i) {
    state_[i] = twist(state_[i], state_[i + 1], state_[i + mt_middle - mt_words]);
  }
  state_[mt_words - 1] = twist(state_[mt_words - 1], state_[0], state_[mt_middle - 1]);
  index_ = 0;
}

uint64_t dither_generator::next() {
  if (index_ >= mt_words) regenerate();
  uint64_t x = state_[index_++];
  x ^= (x >> 29) & 0x5555555555555555ULL;
  x ^= (x << 17) & 0x71D67FFFEDA60000ULL;
  x ^= (x << 37) & 0xFFF7EEE000000000ULL;
  x ^= x >> 43;
  return x;
}

}  // namespace korva
