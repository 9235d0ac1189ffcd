// Moves the samples of one VDIF thread into the bit fields of raw words.
//
// VDIF packs the samples of a frame's C channels instant by instant from the
// least significant bit up (instant 0 channel 0, instant 0 channel 1, ...).
// A raw word of M channels and B bits keeps each channel in its own field of
// 32 / M bits starting at bit h * 32 / M, instants in order within it. Both
// are fixed bit permutations over a group of G_in input words and G_out
// output words that cover the same instants (G_in = C / M or 1, G_out = M / C
// or 1). The permutation runs as byte tables, or with the BMI2 bit extract
// instruction where the processor has it (the same bytes either way); when
// it is the identity the words are copied. A single-channel thread's
// stream is simply cut into the fields of consecutive words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace korva::vdif {

// field_split applies to single-channel threads only (others use tables).
enum class interleave_method { best, copy, tables, bit_extract, field_split };

// Whether this processor has the BMI2 instructions.
bool processor_has_bmi2();

class channel_interleaver {
 public:
  // bits: 1 or 2; thread_channels C and raw_channels M: powers of two with
  // bits * C <= 32 and bits * M <= 32; raw_channel[c] is the raw channel
  // (0..M-1) of thread channel c, or -1 to leave it out. method best picks
  // the fastest that applies.
  channel_interleaver(int bits, int thread_channels, int raw_channels, std::vector<int> raw_channel,
                      interleave_method method = interleave_method::best);

  // Raw words per whole group of input bytes; in_bytes must be a multiple of
  // input_group_bytes().
  size_t output_words(size_t in_bytes) const { return in_bytes / input_group_bytes() * group_out_; }
  size_t input_group_bytes() const { return 4 * group_in_; }

  // Writes the output_words(in_bytes) words that in_bytes of thread data
  // (little-endian words, any alignment) give: the bits under mask() are
  // replaced, the others kept.
  void convert(const uint8_t* in, size_t in_bytes, uint32_t* out) const;

  uint32_t mask() const { return mask_; }  // bits of a raw word this thread supplies
  interleave_method method() const { return method_; }

 private:
  void build_tables();
  void convert_tables(const uint8_t* in, size_t groups, uint32_t* out) const;
  void convert_bit_extract(const uint8_t* in, size_t groups, uint32_t* out) const;
  void convert_field_split(const uint8_t* in, size_t in_bytes, uint32_t* out) const;
  bool is_identity() const;

  int bits_, thread_channels_, raw_channels_;
  std::vector<int> raw_channel_;
  size_t group_in_, group_out_;
  uint32_t mask_ = 0;
  interleave_method method_;
  std::vector<uint32_t> tables_;         // [input byte][value][output word]
  std::vector<uint32_t> channel_masks_;  // bits of thread channel c in an input word
};

}  // namespace korva::vdif
