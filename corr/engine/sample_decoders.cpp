// Sample decoders: one template for the whole family, instantiated once per
// terminal mode. Per sample: one shift, one mask, one table look-up, one
// store; the instants of a word are unrolled at compile time.
#include "sample_decoders.h"

#include <utility>

namespace korva {
namespace {

// Writes the S instants of one word (already shifted to its channel field).
template <int Bits, int... K>
inline void unpack_word(uint32_t field, float* out, const float* level,
                        std::integer_sequence<int, K...>) {
  constexpr uint32_t mask = (1u << Bits) - 1u;
  ((out[K] = level[(field >> (Bits * K)) & mask]), ...);
}

template <int Bits, int Channels>
void decode_samples(const uint32_t* words, float* out, int32_t n, int32_t channel) {
  static_assert(Bits == 1 || Bits == 2);
  static_assert(Channels >= 1 && Channels <= 16 && 32 % (Bits * Channels) == 0);
  constexpr int32_t per_word = 32 / (Bits * Channels);
  constexpr uint32_t field_width = 32 / Channels;
  const float* const level = Bits == 1 ? level_1bit : level_2bit;
  const uint32_t field_base = static_cast<uint32_t>(channel) * field_width;
  const int32_t word_count = n / per_word;  // truncates toward zero; n <= 0 gives no words
  for (int32_t w = 0; w < word_count; ++w) {
    unpack_word<Bits>(words[w] >> field_base, out + per_word * w, level,
                      std::make_integer_sequence<int, per_word>{});
  }
}

}  // namespace

void decode_1bit_1ch(const uint32_t* words, float* out, int32_t n, int32_t channel) {
  decode_samples<1, 1>(words, out, n, channel);
}
void decode_1bit_2ch(const uint32_t* words, float* out, int32_t n, int32_t channel) {
  decode_samples<1, 2>(words, out, n, channel);
}
void decode_1bit_4ch(const uint32_t* words, float* out, int32_t n, int32_t channel) {
  decode_samples<1, 4>(words, out, n, channel);
}
void decode_1bit_8ch(const uint32_t* words, float* out, int32_t n, int32_t channel) {
  decode_samples<1, 8>(words, out, n, channel);
}
void decode_1bit_16ch(const uint32_t* words, float* out, int32_t n, int32_t channel) {
  decode_samples<1, 16>(words, out, n, channel);
}
void decode_2bit_1ch(const uint32_t* words, float* out, int32_t n, int32_t channel) {
  decode_samples<2, 1>(words, out, n, channel);
}
void decode_2bit_2ch(const uint32_t* words, float* out, int32_t n, int32_t channel) {
  decode_samples<2, 2>(words, out, n, channel);
}
void decode_2bit_4ch(const uint32_t* words, float* out, int32_t n, int32_t channel) {
  decode_samples<2, 4>(words, out, n, channel);
}
void decode_2bit_8ch(const uint32_t* words, float* out, int32_t n, int32_t channel) {
  decode_samples<2, 8>(words, out, n, channel);
}
void decode_2bit_16ch(const uint32_t* words, float* out, int32_t n, int32_t channel) {
  decode_samples<2, 16>(words, out, n, channel);
}

sample_decoder select_sample_decoder(int32_t bits, int32_t channels) {
  static constexpr sample_decoder one_bit[5] = {decode_1bit_1ch, decode_1bit_2ch, decode_1bit_4ch,
                                                decode_1bit_8ch, decode_1bit_16ch};
  static constexpr sample_decoder two_bit[5] = {decode_2bit_1ch, decode_2bit_2ch, decode_2bit_4ch,
                                                decode_2bit_8ch, decode_2bit_16ch};
  int slot = -1;
  switch (channels) {
    case 1: slot = 0; break;
    case 2: slot = 1; break;
    case 4: slot = 2; break;
    case 8: slot = 3; break;
    case 16: slot = 4; break;
    default: return nullptr;
  }
  if (bits == 1) return one_bit[slot];
  if (bits == 2) return two_bit[slot];
  return nullptr;
}

}  // namespace korva
