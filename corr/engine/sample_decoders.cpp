// Sample decoders: one template for the whole family, instantiated once per
// terminal mode. A channel's field of a word is cut into chunks of at most
// eight bits; a table built at compile time holds, for every value of a
// chunk, the ready levels of the instants it packs, so one look-up and one
// small copy (a vector move for 2 or more floats) replace a shift, a mask and
// a look-up per sample. The values stored are the level tables' own floats.
#include "sample_decoders.h"

#include <cstring>

namespace korva {
namespace {

// Levels of every value of a chunk of ChunkBits bits holding ChunkBits / Bits
// instants, the earliest in the lowest bits.
template <int Bits, int ChunkBits>
struct chunk_levels {
  static constexpr int instants = ChunkBits / Bits;
  static constexpr int values = 1 << ChunkBits;
  alignas(32) float level[values][instants];

  constexpr chunk_levels() : level{} {
    constexpr uint32_t mask = (1u << Bits) - 1u;
    for (int v = 0; v < values; ++v) {
      for (int k = 0; k < instants; ++k) {
        const uint32_t code = (static_cast<uint32_t>(v) >> (Bits * k)) & mask;
        level[v][k] = Bits == 1 ? level_1bit[code] : level_2bit[code];
      }
    }
  }
};

template <int Bits, int ChunkBits>
inline constexpr chunk_levels<Bits, ChunkBits> chunk_table{};

template <int Bits, int Channels>
void decode_samples(const uint32_t* words, float* out, int32_t n, int32_t channel) {
  static_assert(Bits == 1 || Bits == 2);
  static_assert(Channels >= 1 && Channels <= 16 && 32 % (Bits * Channels) == 0);
  constexpr int32_t per_word = 32 / (Bits * Channels);
  constexpr int field_width = 32 / Channels;
  constexpr int chunk_bits = field_width < 8 ? field_width : 8;
  constexpr int chunks = field_width / chunk_bits;
  constexpr uint32_t chunk_mask = (1u << chunk_bits) - 1u;
  constexpr auto& table = chunk_table<Bits, chunk_bits>;
  constexpr std::size_t chunk_bytes = sizeof table.level[0];
  const uint32_t field_base = static_cast<uint32_t>(channel) * field_width;
  const int32_t word_count = n / per_word;  // truncates toward zero; n <= 0 gives no words
  for (int32_t w = 0; w < word_count; ++w) {
    const uint32_t field = words[w] >> field_base;
    float* const word_out = out + per_word * w;
#pragma GCC unroll 4
    for (int c = 0; c < chunks; ++c) {  // chunks is a constant of 1 to 4
      std::memcpy(word_out + c * table.instants, table.level[(field >> (chunk_bits * c)) & chunk_mask],
                  chunk_bytes);
    }
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

sample_decoder select_sample_decoder(int32_t bits, int32_t channels, kernel_path path) {
  if (path == kernel_path::sse) return select_sample_decoder(bits, channels);
  return select_sample_decoder_avx2(bits, channels);
}

}  // namespace korva
