#include "thread_transposer.h"

#include <cstring>

namespace korva::vdif {
namespace {

// Eight words per thread at a time: one 256-bit vector, or two of 128 bits.
constexpr size_t block_words = 8;
typedef uint32_t word_block __attribute__((vector_size(4 * block_words)));

// The fields j of a word (W = 32 / m bits each) with bit d of j clear.
constexpr uint32_t low_fields(int m, int d) {
  const int width = 32 / m;
  uint32_t mask = 0;
  for (int j = 0; j < m; ++j) {
    if ((j & d) == 0) mask |= ((1u << width) - 1u) << (width * j);
  }
  return mask;
}

// Transposes the m x m matrix of W-bit fields held in r[0..m-1] (row h,
// field j), lane by lane: each round swaps field j + d of row a with field j
// of row a + d for every a and j with bit d clear.
template <int m, typename words>
[[gnu::always_inline]] inline void transpose_fields(words* r) {
  constexpr int width = 32 / m;
  for (int d = m / 2; d >= 1; d /= 2) {
    const uint32_t mask = low_fields(m, d);
    for (int a = 0; a < m; ++a) {
      if (a & d) continue;
      const words t = ((r[a] >> (width * d)) ^ r[a + d]) & mask;
      r[a + d] ^= t;
      r[a] ^= t << (width * d);
    }
  }
}

template <int m>
[[gnu::always_inline]] inline void transpose_all(const uint8_t* const* rows, size_t words, uint32_t* out) {
  size_t k = 0;
  for (; k + block_words <= words; k += block_words, out += block_words * m) {
    word_block r[m];
    for (int h = 0; h < m; ++h) std::memcpy(&r[h], rows[h] + 4 * k, sizeof r[h]);
    transpose_fields<m>(r);
    for (size_t i = 0; i < block_words; ++i) {
      for (int j = 0; j < m; ++j) out[i * m + static_cast<size_t>(j)] = r[j][i];
    }
  }
  for (; k < words; ++k, out += m) {
    uint32_t r[m];
    for (int h = 0; h < m; ++h) std::memcpy(&r[h], rows[h] + 4 * k, 4);
    transpose_fields<m>(r);
    std::memcpy(out, r, sizeof r);
  }
}

template <typename each>
[[gnu::always_inline]] inline void by_channels(int m, each&& run) {
  switch (m) {
    case 2: run.template operator()<2>(); break;
    case 4: run.template operator()<4>(); break;
    case 8: run.template operator()<8>(); break;
    default: run.template operator()<16>(); break;
  }
}

__attribute__((target("avx2"))) void transpose_wide(int m, const uint8_t* const* rows, size_t words, uint32_t* out) {
  by_channels(m, [&]<int channels>() { transpose_all<channels>(rows, words, out); });
}

void transpose_narrow(int m, const uint8_t* const* rows, size_t words, uint32_t* out) {
  by_channels(m, [&]<int channels>() { transpose_all<channels>(rows, words, out); });
}

}  // namespace

thread_transposer::thread_transposer(int raw_channels) : raw_channels_(raw_channels) {
  __builtin_cpu_init();
  wide_ = __builtin_cpu_supports("avx2");
}

void thread_transposer::transpose(const uint8_t* const* rows, size_t in_bytes, uint32_t* out) const {
  if (wide_) {
    transpose_wide(raw_channels_, rows, in_bytes / 4, out);
  } else {
    transpose_narrow(raw_channels_, rows, in_bytes / 4, out);
  }
}

}  // namespace korva::vdif
