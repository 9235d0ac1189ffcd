// The recording-mode facts: the decoder rule against the decoders, the rates
// against plain 64-bit arithmetic, and the order of the correlatable-stream
// checks.
#include "recording_mode.h"

#include <gtest/gtest.h>

#include "sample_decoders.h"

namespace korva {
namespace {

TEST(RecordingMode, DecoderRuleMatchesTheDecodersThatExist) {
  for (int32_t bits = -1; bits <= 4; ++bits) {
    for (int32_t channels = -1; channels <= 33; ++channels) {
      EXPECT_EQ(has_sample_decoder(bits, channels), select_sample_decoder(bits, channels) != nullptr)
          << bits << " bit " << channels << " ch";
    }
  }
}

TEST(RecordingMode, SamplesPerWordFillTheWord) {
  int modes = 0;
  for (int32_t bits = 1; bits <= 2; ++bits) {
    for (int32_t channels = 1; channels <= 16; ++channels) {
      if (!has_sample_decoder(bits, channels)) continue;
      ++modes;
      EXPECT_EQ(samples_per_word(bits, channels) * bits * channels, 32) << bits << " bit " << channels << " ch";
    }
  }
  EXPECT_EQ(modes, 10);
  EXPECT_EQ(samples_per_word(2, 32), 0);  // does not fit a word
  EXPECT_EQ(samples_per_word(0, 4), 0);
}

TEST(RecordingMode, RatesOfWholeWordModesAgreeWithExactArithmetic) {
  for (const recording_mode mode : {recording_mode{1000000, 2, 1}, recording_mode{16000000, 1, 16},
                                    recording_mode{1024000000, 2, 1}, recording_mode{2000000000, 2, 1},
                                    recording_mode{2147483616, 1, 1}}) {
    const uint64_t bits = uint64_t{static_cast<uint32_t>(mode.sample_rate)} * mode.bits * mode.channels;
    ASSERT_LT(bits, uint64_t{1} << 32);
    EXPECT_EQ(bits_per_second(mode), static_cast<int64_t>(bits));
    EXPECT_EQ(words_per_second(mode), bits / 32) << mode.sample_rate;
    EXPECT_EQ(bytes_per_second(mode), bits / 8) << mode.sample_rate;
  }
  // Words per second keep the unsigned 32-bit arithmetic of the engine: a bit
  // rate of 2^32 wraps to 0.
  EXPECT_EQ(words_per_second({1073741824, 2, 2}), 0u);
  EXPECT_EQ(bits_per_second({1073741824, 2, 2}), int64_t{1} << 32);
}

TEST(CheckStream, AcceptsEveryWholeWordFftOfEveryMode) {
  for (int32_t bits = 1; bits <= 2; ++bits) {
    for (int32_t channels : {1, 2, 4, 8, 16}) {
      const recording_mode mode{32000000, bits, channels};
      const int32_t step = samples_per_word(bits, channels) > 4 ? samples_per_word(bits, channels) : 4;
      EXPECT_EQ(check_stream(mode, channels, step), stream_fault::none);
      EXPECT_EQ(check_stream(mode, 1, max_fft_points), stream_fault::none);
      EXPECT_EQ(check_stream(mode, 1, step + step / 2), stream_fault::fft_points) << bits << " " << channels;
    }
  }
}

TEST(CheckStream, FaultsComeInTheOrderModeRateChannelFft) {
  const recording_mode good{16000000, 2, 4};
  EXPECT_EQ(check_stream({16000000, 3, 4}, 9, 3), stream_fault::no_decoder);
  EXPECT_EQ(check_stream({16000000, 2, 3}, 1, 1024), stream_fault::no_decoder);
  EXPECT_EQ(check_stream({0, 2, 4}, 9, 3), stream_fault::sample_rate);
  EXPECT_EQ(check_stream({-16000000, 2, 4}, 1, 1024), stream_fault::sample_rate);
  EXPECT_EQ(check_stream({1073741824, 2, 2}, 9, 3), stream_fault::sample_rate);  // 2^32 bit/s
  EXPECT_EQ(check_stream({3, 2, 1}, 1, 1024), stream_fault::sample_rate);        // 6 bit/s: no whole words
  EXPECT_EQ(check_stream(good, 0, 3), stream_fault::channel);
  EXPECT_EQ(check_stream(good, 5, 1024), stream_fault::channel);
  EXPECT_EQ(check_stream(good, 4, 1024), stream_fault::none);
  for (int32_t fft : {0, -4, 2, 6, max_fft_points + 4}) {
    EXPECT_EQ(check_stream(good, 1, fft), stream_fault::fft_points) << fft;
  }
  // One bit in one channel: 32 instants a word, so segments of 16 start mid-word.
  EXPECT_EQ(check_stream({16000000, 1, 1}, 1, 16), stream_fault::fft_points);
  EXPECT_EQ(check_stream({16000000, 1, 1}, 1, 32), stream_fault::none);
  EXPECT_EQ(check_mode(good), stream_fault::none);
  EXPECT_EQ(check_mode({16000000, 2, 3}), stream_fault::no_decoder);
}

}  // namespace
}  // namespace korva
