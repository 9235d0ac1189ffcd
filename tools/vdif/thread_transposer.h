// Interleaves the frames of one frame number from M single-channel threads
// into the raw words of an M-channel mode in one pass.
//
// Word k of each thread's data array holds M fields of W = 32 / M bits, the
// fields that raw words k * M .. k * M + M - 1 take from that thread. Taking
// word k of all M threads as the rows of an M x M matrix of W-bit elements,
// the raw words are its columns: a matrix transpose, done by log2(M) rounds
// of masked swaps on blocks of eight words per thread (vector registers
// where the processor has them). The result equals M single-thread field
// splits into the same words, without reading the words back M times.
#pragma once

#include <cstddef>
#include <cstdint>

namespace korva::vdif {

class thread_transposer {
 public:
  // raw_channels M: 2, 4, 8 or 16.
  explicit thread_transposer(int raw_channels);

  // rows[h]: the data array of the thread that gives raw channel h (little-
  // endian words, any alignment), each in_bytes long, a multiple of 4.
  // Writes all bits of the in_bytes / 4 * M words from out on.
  void transpose(const uint8_t* const* rows, size_t in_bytes, uint32_t* out) const;

  int raw_channels() const { return raw_channels_; }

 private:
  int raw_channels_;
  bool wide_;  // the processor has 256-bit integer vectors
};

}  // namespace korva::vdif
