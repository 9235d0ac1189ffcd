#include "channel_interleaver.h"

#include <immintrin.h>

#include <algorithm>
#include <cstring>

namespace korva::vdif {
namespace {

uint32_t load_le(const uint8_t* p) {
  uint32_t w;
  std::memcpy(&w, p, 4);
  return w;  // little-endian hosts only (checked where the raw file is written)
}

uint32_t field_mask(int width) { return width >= 32 ? ~0u : (1u << width) - 1u; }

__attribute__((target("bmi2"))) uint32_t extract_bits(uint32_t word, uint32_t mask) {
  return _pext_u32(word, mask);
}

}  // namespace

bool processor_has_bmi2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("bmi2");
}

channel_interleaver::channel_interleaver(int bits, int thread_channels, int raw_channels,
                                         std::vector<int> raw_channel, interleave_method method)
    : bits_(bits),
      thread_channels_(thread_channels),
      raw_channels_(raw_channels),
      raw_channel_(std::move(raw_channel)),
      group_in_(static_cast<size_t>(std::max(1, thread_channels / raw_channels))),
      group_out_(static_cast<size_t>(std::max(1, raw_channels / thread_channels))),
      method_(method) {
  raw_channel_.resize(static_cast<size_t>(thread_channels), -1);
  const int field = 32 / raw_channels;
  for (int h : raw_channel_) {
    if (h >= 0) mask_ |= field_mask(field) << (h * field);
  }
  channel_masks_.assign(static_cast<size_t>(thread_channels), 0);
  for (int bit = 0; bit < 32; ++bit) {
    channel_masks_[static_cast<size_t>((bit / bits_) % thread_channels)] |= 1u << bit;
  }
  if (method_ == interleave_method::best) {
    // By measured speed: a copy; four table look-ups per word; a
    // single-channel thread cut into fields; the bit extract; the general tables.
    if (is_identity()) {
      method_ = interleave_method::copy;
    } else if (group_in_ == 1 && group_out_ == 1) {
      method_ = interleave_method::tables;
    } else if (thread_channels_ == 1) {
      method_ = interleave_method::field_split;
    } else {
      method_ = processor_has_bmi2() ? interleave_method::bit_extract : interleave_method::tables;
    }
  }
  if (method_ == interleave_method::field_split && thread_channels_ != 1) method_ = interleave_method::tables;
  if (method_ == interleave_method::tables) build_tables();
}

// Copy needs one word in, one word out, every bit in its own place.
bool channel_interleaver::is_identity() const {
  if (group_in_ != 1 || group_out_ != 1 || mask_ != ~0u) return false;
  const int field = 32 / raw_channels_, per_word = 32 / (bits_ * thread_channels_);
  for (int bit = 0; bit < 32; ++bit) {
    const int sample = bit / bits_, c = sample % thread_channels_, instant = sample / thread_channels_;
    if (raw_channel_[c] * field + bits_ * instant + bit % bits_ != bit || instant >= per_word) return false;
  }
  return true;
}

// Bit q of an input group (word q / 32) is sample (q % 32) / B of that word:
// channel c = sample % C at instant sample / C; its instant in the group
// selects output word j and the place in channel h's field.
void channel_interleaver::build_tables() {
  const size_t in_bytes = 4 * group_in_;
  tables_.assign(in_bytes * 256 * group_out_, 0);
  const int field = 32 / raw_channels_;
  const int instants_in = 32 / (bits_ * thread_channels_), instants_out = 32 / (bits_ * raw_channels_);
  for (size_t p = 0; p < in_bytes; ++p) {
    for (int bit = 0; bit < 8; ++bit) {
      const int q = static_cast<int>(p) * 8 + bit;
      const int word = q / 32, r = q % 32;
      const int sample = r / bits_, c = sample % thread_channels_;
      const int h = raw_channel_[c];
      if (h < 0) continue;
      const int instant = word * instants_in + sample / thread_channels_;
      const size_t j = static_cast<size_t>(instant / instants_out);
      const int out_bit = h * field + bits_ * (instant % instants_out) + r % bits_;
      for (int v = 0; v < 256; ++v) {
        if (v & (1 << bit)) tables_[(p * 256 + static_cast<size_t>(v)) * group_out_ + j] |= 1u << out_bit;
      }
    }
  }
}

void channel_interleaver::convert(const uint8_t* in, size_t in_bytes, uint32_t* out) const {
  const size_t groups = in_bytes / input_group_bytes();
  switch (method_) {
    case interleave_method::copy: std::memcpy(out, in, groups * 4); break;
    case interleave_method::bit_extract: convert_bit_extract(in, groups, out); break;
    case interleave_method::field_split: convert_field_split(in, in_bytes, out); break;
    default: convert_tables(in, groups, out); break;
  }
}

void channel_interleaver::convert_tables(const uint8_t* in, size_t groups, uint32_t* out) const {
  const size_t in_bytes = 4 * group_in_;
  const uint32_t keep = ~mask_;
  if (group_in_ == 1 && group_out_ == 1) {  // the common case: four look-ups per word
    const uint32_t *t0 = tables_.data(), *t1 = t0 + 256, *t2 = t1 + 256, *t3 = t2 + 256;
    for (size_t g = 0; g < groups; ++g, in += 4) {
      out[g] = (out[g] & keep) | t0[in[0]] | t1[in[1]] | t2[in[2]] | t3[in[3]];
    }
    return;
  }
  uint32_t acc[16];
  for (size_t g = 0; g < groups; ++g, in += in_bytes, out += group_out_) {
    std::fill(acc, acc + group_out_, 0u);
    const uint32_t* table = tables_.data();
    for (size_t p = 0; p < in_bytes; ++p, table += 256 * group_out_) {
      const uint32_t* entry = table + size_t{in[p]} * group_out_;
      for (size_t j = 0; j < group_out_; ++j) acc[j] |= entry[j];
    }
    for (size_t j = 0; j < group_out_; ++j) out[j] = (out[j] & keep) | acc[j];
  }
}

namespace {

// Consecutive fields of `width` bits of a single-channel stream, one per raw
// word, each into the raw word's bits from shift on.
template <int width>
void split_fields(const uint8_t* in, size_t in_bytes, uint32_t* out, int shift, uint32_t keep) {
  if constexpr (width >= 8) {
    constexpr size_t step = width / 8;
    for (size_t k = 0; k < in_bytes / step; ++k) {
      uint32_t field = 0;
      std::memcpy(&field, in + k * step, step);
      out[k] = (out[k] & keep) | field << shift;
    }
  } else {
    constexpr int per_byte = 8 / width;
    constexpr uint32_t bits = (1u << width) - 1u;
    for (size_t k = 0; k < in_bytes; ++k) {
      const uint32_t byte = in[k];
      for (int i = 0; i < per_byte; ++i) {
        out[k * per_byte + i] = (out[k * per_byte + i] & keep) | ((byte >> (i * width)) & bits) << shift;
      }
    }
  }
}

}  // namespace

void channel_interleaver::convert_field_split(const uint8_t* in, size_t in_bytes, uint32_t* out) const {
  const int h = raw_channel_[0];
  if (h < 0) return;
  const int field = 32 / raw_channels_;
  const uint32_t keep = ~mask_;
  switch (field) {
    case 32: split_fields<32>(in, in_bytes, out, 0, keep); break;
    case 16: split_fields<16>(in, in_bytes, out, h * field, keep); break;
    case 8: split_fields<8>(in, in_bytes, out, h * field, keep); break;
    case 4: split_fields<4>(in, in_bytes, out, h * field, keep); break;
    case 2: split_fields<2>(in, in_bytes, out, h * field, keep); break;
    default: split_fields<1>(in, in_bytes, out, h * field, keep); break;
  }
}

// Channel c's samples of one input word, extracted, are 32 / C consecutive
// bits of that channel's stream; output word j holds stream bits j * 32 / M
// onwards in the channel's field.
__attribute__((target("bmi2"))) void channel_interleaver::convert_bit_extract(const uint8_t* in, size_t groups,
                                                                               uint32_t* out) const {
  const int field = 32 / raw_channels_, per_input = 32 / thread_channels_;
  const uint32_t keep = ~mask_, field_bits = field_mask(field);
  const size_t in_bytes = 4 * group_in_;
  uint32_t acc[16];
  for (size_t g = 0; g < groups; ++g, in += in_bytes, out += group_out_) {
    std::fill(acc, acc + group_out_, 0u);
    for (size_t i = 0; i < group_in_; ++i) {
      const uint32_t word = load_le(in + 4 * i);
      for (int c = 0; c < thread_channels_; ++c) {
        const int h = raw_channel_[static_cast<size_t>(c)];
        if (h < 0) continue;
        const uint32_t stream = thread_channels_ == 1 ? word : extract_bits(word, channel_masks_[static_cast<size_t>(c)]);
        if (group_out_ == 1) {
          acc[0] |= stream << (static_cast<int>(i) * per_input + h * field);
        } else {
          for (size_t j = 0; j < group_out_; ++j) {
            acc[j] |= ((stream >> (static_cast<int>(j) * field)) & field_bits) << (h * field);
          }
        }
      }
    }
    for (size_t j = 0; j < group_out_; ++j) out[j] = (out[j] & keep) | acc[j];
  }
}

}  // namespace korva::vdif
