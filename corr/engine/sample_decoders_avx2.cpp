// Sample decoders with AVX2: eight samples per vector. Each lane shifts its
// word right to its sample's field (vpsrlvd), masks the code and picks the
// level from a vector holding the level table (vpermps), so the values
// stored are the level tables' own floats. Words holding fewer than eight
// instants of the channel are spread over the lanes first (vpermd). Only
// the n / S words of the contract are read, with loads of exactly the words
// a vector needs; words left over at the end take the scalar look-up.
// Called only where the CPU has AVX2.
#include <immintrin.h>

#include <cstdint>

#include "sample_decoders.h"

#pragma GCC push_options
#pragma GCC target("avx2")

namespace korva {
namespace {

template <int Bits>
__m256 level_vector() {
  if constexpr (Bits == 1) return _mm256_setr_ps(level_1bit[0], level_1bit[1], 0, 0, 0, 0, 0, 0);
  return _mm256_setr_ps(level_2bit[0], level_2bit[1], level_2bit[2], level_2bit[3], 0, 0, 0, 0);
}

// Eight samples from the words in v: lane l shifted right by shift[l].
template <int Bits>
inline __m256 levels_of(__m256i v, __m256i shift, __m256 levels) {
  const __m256i codes = _mm256_and_si256(_mm256_srlv_epi32(v, shift), _mm256_set1_epi32((1 << Bits) - 1));
  return _mm256_permutevar8x32_ps(levels, codes);
}

// The `Words` words that fill one vector, in its low lanes (upper lanes zero).
template <int Words>
inline __m256i load_words(const uint32_t* words) {
  if constexpr (Words == 8) return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words));
  if constexpr (Words == 4) return _mm256_zextsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(words)));
  if constexpr (Words == 2) return _mm256_zextsi128_si256(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(words)));
  return _mm256_set1_epi32(static_cast<int>(words[0]));
}

template <int Bits, int Channels>
void decode_samples_avx2(const uint32_t* words, float* out, int32_t n, int32_t channel) {
  constexpr int per_word = 32 / (Bits * Channels);  // S
  const int base = channel * (32 / Channels);
  const int32_t word_count = n / per_word;
  if (word_count <= 0) return;
  const __m256 levels = level_vector<Bits>();
  int32_t w = 0;
  if constexpr (per_word >= 8) {  // a word fills per_word / 8 vectors
    __m256i shift[per_word / 8];
    for (int j = 0; j < per_word / 8; ++j) {
      shift[j] = _mm256_add_epi32(_mm256_set1_epi32(base + Bits * 8 * j),
                                  _mm256_mullo_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7), _mm256_set1_epi32(Bits)));
    }
    for (; w < word_count; ++w) {
      const __m256i v = _mm256_set1_epi32(static_cast<int>(words[w]));
#pragma GCC unroll 4
      for (int j = 0; j < per_word / 8; ++j) _mm256_storeu_ps(out + per_word * w + 8 * j, levels_of<Bits>(v, shift[j], levels));
    }
  } else {  // 8 / per_word words fill a vector; lane l takes word l / S, instant l % S
    constexpr int words_per_vector = 8 / per_word;
    alignas(32) int32_t spread[8], shifts[8];
    for (int l = 0; l < 8; ++l) {
      spread[l] = l / per_word;
      shifts[l] = base + Bits * (l % per_word);
    }
    const __m256i pick = _mm256_load_si256(reinterpret_cast<const __m256i*>(spread));
    const __m256i shift = _mm256_load_si256(reinterpret_cast<const __m256i*>(shifts));
    for (; w + words_per_vector <= word_count; w += words_per_vector) {
      const __m256i v = _mm256_permutevar8x32_epi32(load_words<words_per_vector>(words + w), pick);
      _mm256_storeu_ps(out + per_word * w, levels_of<Bits>(v, shift, levels));
    }
    const float* const level = Bits == 1 ? level_1bit : level_2bit;
    for (; w < word_count; ++w) {  // fewer words left than a vector takes
      for (int k = 0; k < per_word; ++k) {
        out[per_word * w + k] = level[(words[w] >> (base + Bits * k)) & ((1u << Bits) - 1u)];
      }
    }
  }
}

}  // namespace

sample_decoder select_sample_decoder_avx2(int32_t bits, int32_t channels) {
  static constexpr sample_decoder one_bit[5] = {decode_samples_avx2<1, 1>, decode_samples_avx2<1, 2>,
                                                decode_samples_avx2<1, 4>, decode_samples_avx2<1, 8>,
                                                decode_samples_avx2<1, 16>};
  static constexpr sample_decoder two_bit[5] = {decode_samples_avx2<2, 1>, decode_samples_avx2<2, 2>,
                                                decode_samples_avx2<2, 4>, decode_samples_avx2<2, 8>,
                                                decode_samples_avx2<2, 16>};
  const sample_decoder portable = select_sample_decoder(bits, channels);
  if (portable == nullptr) return nullptr;
  int slot = 0;
  while ((1 << slot) < channels) ++slot;
  return bits == 1 ? one_bit[slot] : two_bit[slot];
}

}  // namespace korva

#pragma GCC pop_options
