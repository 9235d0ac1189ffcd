#include "recording_mode.h"

namespace korva {

namespace {

constexpr int64_t bit_rate_limit = int64_t{1} << 32;
constexpr int32_t word_bits = 32;

}  // namespace

bool has_sample_decoder(int32_t bits, int32_t channels) {
  const bool bits_ok = bits == 1 || bits == 2;
  const bool channels_ok = channels == 1 || channels == 2 || channels == 4 || channels == 8 ||
                           channels == 16;
  return bits_ok && channels_ok;
}

int32_t samples_per_word(int32_t bits, int32_t channels) {
  const int64_t bits_per_instant = int64_t{bits} * channels;
  if (bits_per_instant <= 0 || bits_per_instant > word_bits) return 0;
  return word_bits / static_cast<int32_t>(bits_per_instant);
}

int64_t bits_per_second(const recording_mode& mode) {
  return int64_t{mode.sample_rate} * mode.bits * mode.channels;
}

uint32_t words_per_second(const recording_mode& mode) {
  const uint32_t bits_per_instant = static_cast<uint32_t>(mode.bits) * static_cast<uint32_t>(mode.channels);
  return (static_cast<uint32_t>(mode.sample_rate) * bits_per_instant) >> 5;
}

uint64_t bytes_per_second(const recording_mode& mode) {
  return uint64_t{static_cast<uint32_t>(mode.sample_rate)} * static_cast<uint32_t>(mode.bits) *
         static_cast<uint32_t>(mode.channels) / 8u;
}

stream_fault check_mode(const recording_mode& mode) {
  if (!has_sample_decoder(mode.bits, mode.channels)) return stream_fault::no_decoder;
  const int64_t bit_rate = bits_per_second(mode);
  if (mode.sample_rate <= 0 || bit_rate >= bit_rate_limit || bit_rate % word_bits != 0)
    return stream_fault::sample_rate;
  return stream_fault::none;
}

stream_fault check_stream(const recording_mode& mode, int32_t channel, int32_t fft_points) {
  const stream_fault mode_fault = check_mode(mode);
  if (mode_fault != stream_fault::none) return mode_fault;
  if (channel < 1 || channel > mode.channels) return stream_fault::channel;
  if (fft_points < 4 || fft_points > max_fft_points || fft_points % 4 != 0 ||
      fft_points % samples_per_word(mode.bits, mode.channels) != 0)
    return stream_fault::fft_points;
  return stream_fault::none;
}

}  // namespace korva
