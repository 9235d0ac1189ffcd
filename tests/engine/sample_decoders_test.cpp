// Sample decoders against the bit layout of raw words, an independent
// bit-by-bit reference, and the read/write bounds of their contract.
#include "sample_decoders.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace korva {
namespace {

struct mode {
  int bits;
  int channels;
};
constexpr mode all_modes[] = {{1, 1}, {1, 2}, {1, 4}, {1, 8}, {1, 16},
                              {2, 1}, {2, 2}, {2, 4}, {2, 8}, {2, 16}};

int samples_per_word(mode m) { return 32 / (m.bits * m.channels); }

// Straightforward reference: locate each sample's bits one at a time and map
// the code arithmetically (1 bit: sign; 2 bits: code - 1.5).
float reference_sample(const uint32_t* words, mode m, int channel, int index) {
  const int s = samples_per_word(m);
  const uint32_t word = words[index / s];
  const int first_bit = channel * (32 / m.channels) + m.bits * (index % s);
  uint32_t code = 0;
  for (int bit = 0; bit < m.bits; ++bit) code |= ((word >> (first_bit + bit)) & 1u) << bit;
  if (m.bits == 1) return code ? 1.0f : -1.0f;
  return static_cast<float>(code) - 1.5f;
}

// A page of readable words followed by an inaccessible page: the last
// `count` readable words end exactly at the guard, so reading one word too
// many faults.
class guarded_words {
 public:
  explicit guarded_words(size_t count) : page_(static_cast<size_t>(sysconf(_SC_PAGESIZE))) {
    pages_ = (count * 4 + page_ - 1) / page_ + 1;
    void* p = mmap(nullptr, pages_ * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    EXPECT_NE(p, MAP_FAILED);
    base_ = static_cast<char*>(p);
    EXPECT_EQ(mprotect(base_ + (pages_ - 1) * page_, page_, PROT_NONE), 0);
    words_ = reinterpret_cast<uint32_t*>(base_ + (pages_ - 1) * page_) - count;
  }
  ~guarded_words() { munmap(base_, pages_ * page_); }
  guarded_words(const guarded_words&) = delete;
  guarded_words& operator=(const guarded_words&) = delete;
  uint32_t* words() { return words_; }

 private:
  size_t page_;
  size_t pages_ = 0;
  char* base_ = nullptr;
  uint32_t* words_ = nullptr;
};

constexpr float canary = 12345.0f;

TEST(SampleDecoders, SelectionCoversExactlyTheTenModes) {
  EXPECT_EQ(select_sample_decoder(1, 1), &decode_1bit_1ch);
  EXPECT_EQ(select_sample_decoder(1, 2), &decode_1bit_2ch);
  EXPECT_EQ(select_sample_decoder(1, 4), &decode_1bit_4ch);
  EXPECT_EQ(select_sample_decoder(1, 8), &decode_1bit_8ch);
  EXPECT_EQ(select_sample_decoder(1, 16), &decode_1bit_16ch);
  EXPECT_EQ(select_sample_decoder(2, 1), &decode_2bit_1ch);
  EXPECT_EQ(select_sample_decoder(2, 2), &decode_2bit_2ch);
  EXPECT_EQ(select_sample_decoder(2, 4), &decode_2bit_4ch);
  EXPECT_EQ(select_sample_decoder(2, 8), &decode_2bit_8ch);
  EXPECT_EQ(select_sample_decoder(2, 16), &decode_2bit_16ch);
  for (int bits : {-1, 0, 3, 4, 8}) {
    for (int channels : {1, 2, 4, 8, 16}) EXPECT_EQ(select_sample_decoder(bits, channels), nullptr);
  }
  for (int channels : {-2, 0, 3, 5, 6, 7, 9, 12, 15, 17, 32}) {
    EXPECT_EQ(select_sample_decoder(1, channels), nullptr);
    EXPECT_EQ(select_sample_decoder(2, channels), nullptr);
  }
}

TEST(SampleDecoders, TwoBitCodesInTheFirstFourFields) {
  const uint32_t word = 3u | (2u << 2) | (1u << 4) | (0u << 6);
  float out[16];
  decode_2bit_1ch(&word, out, 16, 0);
  EXPECT_EQ(out[0], 1.5f);
  EXPECT_EQ(out[1], 0.5f);
  EXPECT_EQ(out[2], -0.5f);
  EXPECT_EQ(out[3], -1.5f);
  for (int k = 4; k < 16; ++k) EXPECT_EQ(out[k], -1.5f) << k;
}

TEST(SampleDecoders, OneBitTwoChannelsFirstBitOfEachField) {
  const uint32_t word = (1u << 0) | (1u << 16);
  for (int channel = 0; channel < 2; ++channel) {
    float out[16];
    decode_1bit_2ch(&word, out, 16, channel);
    EXPECT_EQ(out[0], 1.0f) << channel;
    for (int k = 1; k < 16; ++k) EXPECT_EQ(out[k], -1.0f) << channel << " " << k;
  }
}

TEST(SampleDecoders, AllZeroAndAllOneWords) {
  for (mode m : all_modes) {
    const sample_decoder decode = select_sample_decoder(m.bits, m.channels);
    const float low = m.bits == 1 ? -1.0f : -1.5f;
    const float high = -low;
    const std::vector<uint32_t> zeros(8, 0u), ones(8, 0xFFFFFFFFu);
    const int n = 8 * samples_per_word(m);
    for (int channel = 0; channel < m.channels; ++channel) {
      std::vector<float> out(n, canary);
      decode(zeros.data(), out.data(), n, channel);
      for (float v : out) ASSERT_EQ(v, low) << m.bits << "/" << m.channels;
      decode(ones.data(), out.data(), n, channel);
      for (float v : out) ASSERT_EQ(v, high) << m.bits << "/" << m.channels;
    }
  }
}

TEST(SampleDecoders, EveryModeAndChannelMatchesBitByBitReference) {
  std::mt19937 random(20240611u);
  std::vector<uint32_t> words(64);
  for (uint32_t& w : words) w = random();
  for (mode m : all_modes) {
    const sample_decoder decode = select_sample_decoder(m.bits, m.channels);
    const int n = static_cast<int>(words.size()) * samples_per_word(m);
    for (int channel = 0; channel < m.channels; ++channel) {
      std::vector<float> out(n, canary);
      decode(words.data(), out.data(), n, channel);
      for (int i = 0; i < n; ++i) {
        ASSERT_EQ(out[i], reference_sample(words.data(), m, channel, i))
            << m.bits << " bit, " << m.channels << " ch, channel " << channel << ", sample " << i;
      }
    }
  }
}

TEST(SampleDecoders, ChannelsAreIndependentFields) {
  // Only channel h's field is set to all ones; every other channel reads low.
  for (mode m : all_modes) {
    const sample_decoder decode = select_sample_decoder(m.bits, m.channels);
    const int s = samples_per_word(m);
    const int width = 32 / m.channels;
    for (int h = 0; h < m.channels; ++h) {
      const uint32_t field = width == 32 ? 0xFFFFFFFFu : ((1u << width) - 1u) << (h * width);
      for (int channel = 0; channel < m.channels; ++channel) {
        std::vector<float> out(s, canary);
        decode(&field, out.data(), s, channel);
        const float expected = channel == h ? (m.bits == 1 ? 1.0f : 1.5f) : (m.bits == 1 ? -1.0f : -1.5f);
        for (float v : out) ASSERT_EQ(v, expected) << m.bits << "/" << m.channels << " h=" << h;
      }
    }
  }
}

TEST(SampleDecoders, NonPositiveCountReadsAndWritesNothing) {
  guarded_words guard(0);  // the pointer sits right at the inaccessible page
  for (mode m : all_modes) {
    const sample_decoder decode = select_sample_decoder(m.bits, m.channels);
    for (int n : {0, -1, -32, -1000000, static_cast<int>(INT32_MIN)}) {
      float out[4] = {canary, canary, canary, canary};
      decode(guard.words(), out, n, 0);
      for (float v : out) ASSERT_EQ(v, canary) << n;
    }
  }
}

TEST(SampleDecoders, PartialWordIsNeitherReadNorWritten) {
  std::mt19937 random(77u);
  for (mode m : all_modes) {
    const sample_decoder decode = select_sample_decoder(m.bits, m.channels);
    const int s = samples_per_word(m);
    for (int whole : {0, 1, 3, 17}) {
      for (int extra = 0; extra < s; ++extra) {
        const int n = whole * s + extra;
        guarded_words guard(whole);  // exactly n / S readable words
        for (int w = 0; w < whole; ++w) guard.words()[w] = random();
        const int channel = m.channels - 1;
        std::vector<float> out(n + 8, canary);
        decode(guard.words(), out.data(), n, channel);
        for (int i = 0; i < whole * s; ++i) {
          ASSERT_EQ(out[i], reference_sample(guard.words(), m, channel, i));
        }
        for (size_t i = whole * s; i < out.size(); ++i) ASSERT_EQ(out[i], canary) << n << " " << i;
      }
    }
  }
}

// Every instruction set the decoders come in, on the machine that runs the
// suite: the bit-by-bit reference for every mode, channel and count, whole
// and partial words, with exactly n / S readable words and canaries on both
// sides of the output.
class DecoderPath : public ::testing::TestWithParam<kernel_path> {
 protected:
  void SetUp() override {
    if (!kernel_path_supported(GetParam())) {
      GTEST_SKIP() << "this CPU cannot run the " << kernel_path_name(GetParam()) << " decoders";
    }
  }
};

TEST_P(DecoderPath, EveryModeChannelAndCountMatchesBitByBitReference) {
  std::mt19937 random(4242u);
  for (mode m : all_modes) {
    const sample_decoder decode = select_sample_decoder(m.bits, m.channels, GetParam());
    ASSERT_NE(decode, nullptr);
    const int s = samples_per_word(m);
    for (int whole : {0, 1, 2, 3, 5, 7, 8, 9, 15, 16, 17, 31, 33, 100, 1024}) {
      for (int extra : {0, s / 2, s - 1}) {
        const int n = whole * s + extra;
        guarded_words guard(whole);
        for (int w = 0; w < whole; ++w) guard.words()[w] = random();
        for (int channel = 0; channel < m.channels; ++channel) {
          std::vector<float> out(n + 16, canary);
          decode(guard.words(), out.data() + 8, n, channel);
          for (int i = 0; i < 8; ++i) ASSERT_EQ(out[i], canary);
          for (int i = 0; i < whole * s; ++i) {
            ASSERT_EQ(out[8 + i], reference_sample(guard.words(), m, channel, i))
                << m.bits << " bit, " << m.channels << " ch, channel " << channel << ", n " << n << ", sample " << i;
          }
          for (size_t i = 8 + whole * s; i < out.size(); ++i) ASSERT_EQ(out[i], canary) << n << " " << i;
        }
      }
    }
  }
}

TEST_P(DecoderPath, ModesWithoutDecoderHaveNone) {
  EXPECT_EQ(select_sample_decoder(3, 1, GetParam()), nullptr);
  EXPECT_EQ(select_sample_decoder(2, 3, GetParam()), nullptr);
  EXPECT_EQ(select_sample_decoder(1, 32, GetParam()), nullptr);
  EXPECT_EQ(select_sample_decoder(2, 16, kernel_path::sse), &decode_2bit_16ch);
}

INSTANTIATE_TEST_SUITE_P(AllWidths, DecoderPath, ::testing::ValuesIn(all_kernel_paths),
                         [](const ::testing::TestParamInfo<kernel_path>& info) {
                           return std::string(kernel_path_name(info.param));
                         });

TEST(SampleDecoders, ConsecutiveWordsContinueInTime) {
  // Word w of a 1-bit single-channel stream holds instants 32 w .. 32 w + 31.
  const uint32_t words[3] = {0x00000001u, 0x80000000u, 0x00010000u};
  float out[96];
  decode_1bit_1ch(words, out, 96, 0);
  for (int i = 0; i < 96; ++i) {
    const bool high = i == 0 || i == 63 || i == 64 + 16;
    ASSERT_EQ(out[i], high ? 1.0f : -1.0f) << i;
  }
}

}  // namespace
}  // namespace korva
