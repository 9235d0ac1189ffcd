// Tests of the VDIF frame format pieces: header fields at their bit places,
// reference epochs, the channel interleave against a sample-by-sample
// reference, the one-pass thread transpose against the thread-by-thread
// interleave, the fill codes' statistics, and the frame reader on random
// input and on files larger than its mapping window.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "channel_interleaver.h"
#include "fill_codes.h"
#include "frame_reader.h"
#include "thread_transposer.h"
#include "vdif_header.h"

namespace korva::vdif {
namespace {

namespace fs = std::filesystem;

void put_word(std::vector<uint8_t>& bytes, size_t at, uint32_t w) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(w >> (8 * i));
}

TEST(VdifHeader, FieldsComeFromTheirBitRanges) {
  std::vector<uint8_t> bytes(32, 0xee);
  put_word(bytes, 0, 0x80000000u | 0x12345678u);          // invalid, not legacy, seconds
  put_word(bytes, 4, (49u << 24) | 0x0abcdeu);             // epoch 49, frame 0x0abcde
  put_word(bytes, 8, (1u << 29) | (3u << 24) | 1004u);     // version 1, 8 channels, 8032 bytes
  put_word(bytes, 12, (1u << 26) | (517u << 16) | 0x4142); // real, 2 bits, thread 517, "AB"
  frame_header h;
  ASSERT_TRUE(decode_header(bytes.data(), bytes.size(), h));
  EXPECT_TRUE(h.invalid);
  EXPECT_FALSE(h.legacy);
  EXPECT_EQ(h.seconds, 0x12345678u);
  EXPECT_EQ(h.reference_epoch, 49u);
  EXPECT_EQ(h.frame_number, 0x0abcdeu);
  EXPECT_EQ(h.version, 1u);
  EXPECT_EQ(h.channels(), 8u);
  EXPECT_EQ(h.frame_bytes(), 8032u);
  EXPECT_EQ(h.data_bytes(), 8000u);
  EXPECT_FALSE(h.complex);
  EXPECT_EQ(h.bits_per_sample, 2u);
  EXPECT_EQ(h.thread_id, 517u);
  EXPECT_EQ(h.station_id, 0x4142u);

  put_word(bytes, 0, 0x40000000u);  // legacy: 16 bytes are enough
  ASSERT_TRUE(decode_header(bytes.data(), 16, h));
  EXPECT_TRUE(h.legacy);
  EXPECT_EQ(h.data_bytes(), 8016u);
  put_word(bytes, 0, 0);
  EXPECT_FALSE(decode_header(bytes.data(), 31, h));  // a full header needs 32
}

TEST(VdifHeader, EncodeDecodeRoundTripOfRandomFields) {
  std::mt19937 random(7);
  for (int i = 0; i < 1000; ++i) {
    frame_header h;
    h.invalid = random() & 1;
    h.legacy = random() & 1;
    h.seconds = random() & 0x3fffffffu;
    h.reference_epoch = random() & 63;
    h.frame_number = random() & 0xffffffu;
    h.version = random() & 7;
    h.log2_channels = random() & 31;
    h.length_units = random() & 0xffffffu;
    h.complex = random() & 1;
    h.bits_per_sample = 1 + (random() & 31);
    h.thread_id = random() & 1023;
    h.station_id = random() & 0xffff;
    uint8_t bytes[32];
    const size_t n = encode_header(h, bytes);
    EXPECT_EQ(n, h.legacy ? 16u : 32u);
    frame_header back;
    ASSERT_TRUE(decode_header(bytes, n, back));
    EXPECT_TRUE(matches(back, signature_of(h)));
    EXPECT_EQ(back.invalid, h.invalid);
    EXPECT_EQ(back.seconds, h.seconds);
    EXPECT_EQ(back.frame_number, h.frame_number);
    EXPECT_EQ(back.thread_id, h.thread_id);
  }
}

TEST(VdifHeader, ReferenceEpochsAreHalfYearsSince2000) {
  EXPECT_EQ(reference_epoch_utc(0), 946684800);   // 2000-01-01
  EXPECT_EQ(reference_epoch_utc(1), 962409600);   // 2000-07-01
  EXPECT_EQ(reference_epoch_utc(48), 1704067200); // 2024-01-01
  EXPECT_EQ(reference_epoch_utc(49), 1719792000); // 2024-07-01
  EXPECT_EQ(reference_epoch_of(1712750400), 48u); // 2024-04-10 12:00
  EXPECT_EQ(reference_epoch_of(1719792000), 49u);
  EXPECT_EQ(reference_epoch_of(1719791999), 48u);
  frame_header h;
  h.reference_epoch = 48;
  h.seconds = 1712750400 - 1704067200;
  EXPECT_EQ(frame_utc(h), 1712750400);
}

// Sample code of thread channel c at instant i: VDIF puts instant i's
// samples of channels 0..C-1 one after the other from bit 0 up.
uint32_t vdif_sample(const std::vector<uint8_t>& data, size_t i, int c, int bits, int channels) {
  const size_t bit = (i * channels + c) * bits;
  uint32_t word;
  std::memcpy(&word, &data[bit / 32 * 4], 4);
  return (word >> (bit % 32)) & ((1u << bits) - 1);
}

// Raw-word place of channel h at instant i: field h of 32/M bits, instant k
// of the word B bits further on.
uint32_t raw_sample(const std::vector<uint32_t>& words, size_t i, int h, int bits, int channels) {
  const size_t per_word = 32 / (bits * channels);
  return (words[i / per_word] >> (h * (32 / channels) + bits * (i % per_word))) & ((1u << bits) - 1);
}

TEST(ChannelInterleaver, EveryLayoutAndMethodPlacesEachSampleWhereBothFormatsSay) {
  std::mt19937 random(3);
  // field_split falls back to tables where it does not apply.
  std::vector<interleave_method> methods = {interleave_method::tables, interleave_method::best,
                                            interleave_method::field_split};
  if (processor_has_bmi2()) methods.push_back(interleave_method::bit_extract);
  int cases = 0;
  for (int bits : {1, 2}) {
    for (int c_count = 1; c_count * bits <= 32; c_count *= 2) {
      for (int m_count = 1; m_count * bits <= 32 && m_count <= 16; m_count *= 2) {
        // Raw channels 0..M-1 from a random choice of thread channels, some
        // left out; when the thread has fewer channels than the word, the
        // thread supplies the first ones and the rest of the word is kept.
        std::vector<int> order(static_cast<size_t>(std::max(c_count, m_count)));
        for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
        std::shuffle(order.begin(), order.end(), random);
        std::vector<int> raw_channel(static_cast<size_t>(c_count), -1);
        for (int c = 0; c < c_count; ++c) {
          if (order[c] < m_count) raw_channel[c] = order[c];
        }
        std::vector<uint8_t> data(64 * static_cast<size_t>(std::max(1, c_count / m_count)) * 4);
        for (auto& b : data) b = static_cast<uint8_t>(random());
        for (interleave_method method : methods) {
          SCOPED_TRACE(::testing::Message() << bits << " bits, " << c_count << " -> " << m_count << " channels, method "
                                            << static_cast<int>(method));
          channel_interleaver interleaver(bits, c_count, m_count, raw_channel, method);
          std::vector<uint32_t> out(interleaver.output_words(data.size()), 0x5a5a5a5au);
          interleaver.convert(data.data(), data.size(), out.data());
          const size_t instants = data.size() * 8 / (bits * c_count);
          ASSERT_EQ(out.size() * 32 / (bits * m_count), instants);
          uint32_t mask = 0;
          for (int c = 0; c < c_count; ++c) {
            if (raw_channel[c] < 0) continue;
            mask |= (m_count == 1 ? ~0u : ((1u << (32 / m_count)) - 1)) << (raw_channel[c] * (32 / m_count));
            for (size_t i = 0; i < instants; ++i) {
              ASSERT_EQ(raw_sample(out, i, raw_channel[c], bits, m_count), vdif_sample(data, i, c, bits, c_count))
                  << "instant " << i << " channel " << c;
            }
          }
          EXPECT_EQ(interleaver.mask(), mask);
          for (uint32_t w : out) ASSERT_EQ(w & ~mask, 0x5a5a5a5au & ~mask);  // other threads' bits kept
          ++cases;
        }
      }
    }
  }
  EXPECT_GE(cases, 40);
}

TEST(ChannelInterleaver, SingleChannelAndWholeWordInstantsAreCopied) {
  EXPECT_EQ(channel_interleaver(2, 1, 1, {0}).method(), interleave_method::copy);
  EXPECT_EQ(channel_interleaver(1, 1, 1, {0}).method(), interleave_method::copy);
  EXPECT_EQ(channel_interleaver(2, 16, 16, std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}).method(),
            interleave_method::copy);
  EXPECT_NE(channel_interleaver(2, 4, 4, {0, 1, 2, 3}).method(), interleave_method::copy);
  EXPECT_NE(channel_interleaver(2, 1, 1, {-1}).method(), interleave_method::copy);
}

// The transpose writes what M single-channel threads interleaved one after
// the other (by byte tables, a path of its own) write into the same words:
// every channel count, shuffled channel order, a word count that leaves a
// partial block, data arrays at odd addresses.
TEST(ThreadTransposer, GivesTheWordsOfTheThreadByThreadInterleave) {
  std::mt19937 random(9);
  for (int bits : {1, 2}) {
    for (int m : {2, 4, 8, 16}) {
      SCOPED_TRACE(::testing::Message() << bits << " bits, " << m << " threads");
      const size_t in_bytes = 4 * (8 * 37 + 5);
      std::vector<int> order(static_cast<size_t>(m));
      for (int h = 0; h < m; ++h) order[static_cast<size_t>(h)] = h;
      std::shuffle(order.begin(), order.end(), random);
      std::vector<std::vector<uint8_t>> threads(static_cast<size_t>(m), std::vector<uint8_t>(in_bytes + 1));
      const uint8_t* rows[16];
      std::vector<uint32_t> expected(in_bytes / 4 * static_cast<size_t>(m), 0);
      for (int t = 0; t < m; ++t) {
        auto& data = threads[static_cast<size_t>(t)];
        for (auto& b : data) b = static_cast<uint8_t>(random());
        rows[order[static_cast<size_t>(t)]] = data.data() + 1;
        channel_interleaver(bits, 1, m, {order[static_cast<size_t>(t)]}, interleave_method::tables)
            .convert(data.data() + 1, in_bytes, expected.data());
      }
      std::vector<uint32_t> out(expected.size() + 1, 0xdeadbeefu);
      thread_transposer(m).transpose(rows, in_bytes, out.data());
      EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out.begin()));
      EXPECT_EQ(out.back(), 0xdeadbeefu);  // nothing written beyond
    }
  }
}

TEST(FillCodes, TwoBitCodesFollowTheGaussianAndStationsDiffer) {
  const fill_source alpha(station_key("ALPHA"), 2), bravo(station_key("BRAVO"), 2);
  std::vector<uint32_t> a(1 << 16, 0), b(1 << 16, 0), again(1 << 16, 0);
  alpha.fill(1712750400, 0, a.data(), a.size(), ~0u);
  bravo.fill(1712750400, 0, b.data(), b.size(), ~0u);
  alpha.fill(1712750400, 0, again.data(), again.size(), ~0u);
  EXPECT_EQ(a, again);
  const float level[4] = {-1.5f, -0.5f, 0.5f, 1.5f};
  double count[4] = {}, cross = 0, power = 0;
  for (size_t w = 0; w < a.size(); ++w) {
    for (int k = 0; k < 16; ++k) {
      const uint32_t ca = (a[w] >> (2 * k)) & 3, cb = (b[w] >> (2 * k)) & 3;
      count[ca] += 1;
      cross += level[ca] * level[cb];
      power += level[ca] * level[ca];
    }
  }
  const double n = 16.0 * a.size();  // about 1e6 samples: sigma of a fraction about 4e-4
  EXPECT_NEAR(count[0] / n, 0.1587, 0.002);
  EXPECT_NEAR(count[1] / n, 0.3413, 0.002);
  EXPECT_NEAR(count[2] / n, 0.3413, 0.002);
  EXPECT_NEAR(count[3] / n, 0.1587, 0.002);
  EXPECT_LT(std::abs(cross / power), 5.0 / std::sqrt(n));  // no correlation between stations

  std::vector<uint32_t> next_second(a.size(), 0);
  alpha.fill(1712750401, 0, next_second.data(), next_second.size(), ~0u);
  EXPECT_NE(a, next_second);
}

TEST(FillCodes, OneBitCodesAreFairAndBitsOutsideTheMaskStay) {
  const fill_source source(station_key("CHARLIE"), 1);
  std::vector<uint32_t> words(1 << 15, 0xffff0000u);
  source.fill(5, 9, words.data(), words.size(), 0x0000ffffu);
  double ones = 0;
  for (uint32_t w : words) {
    ASSERT_EQ(w >> 16, 0xffffu);
    ones += __builtin_popcount(w & 0xffffu);
  }
  EXPECT_NEAR(ones / (16.0 * words.size()), 0.5, 0.003);
}

struct scratch_file {
  fs::path path;
  scratch_file() {
    std::string pattern = (fs::temp_directory_path() / "korva_vdif_fuzz_XXXXXX").string();
    const int fd = mkstemp(pattern.data());
    close(fd);
    path = pattern;
  }
  ~scratch_file() { fs::remove(path); }
};

// Random bytes, sometimes with valid headers spliced in at random places,
// through the reader: no read outside a buffer (the sanitizers watch), and
// every byte is either in a returned frame or counted as skipped.
TEST(FrameReader, RandomInputNeverBreaksTheByteAccounting) {
  std::mt19937 random(12345);
  scratch_file file;
  frame_header valid;
  valid.length_units = 1 + random() % 40;
  valid.log2_channels = 1;
  valid.bits_per_sample = 2;
  for (int round = 0; round < 400; ++round) {
    std::vector<uint8_t> bytes(random() % 20000);
    for (auto& b : bytes) b = static_cast<uint8_t>(random());
    if (round % 2 == 0 && bytes.size() > 64) {
      valid.length_units = 5 + random() % 40;
      for (int k = 0; k < 20; ++k) {
        const size_t at = random() % (bytes.size() - 32);
        valid.frame_number = random() % 100;
        valid.legacy = random() % 5 == 0;
        encode_header(valid, &bytes[at]);
      }
    }
    std::ofstream(file.path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::string error;
    auto reader = frame_reader::create(file.path.string(), error);
    ASSERT_TRUE(reader) << error;
    frame_view frame;
    uint64_t frame_bytes = 0;
    while (reader->next(frame)) {
      ASSERT_LE(frame.offset + reader->signature().frame_bytes(), bytes.size());
      ASSERT_EQ(frame.data_bytes, reader->signature().data_bytes());
      ASSERT_EQ(std::memcmp(frame.data, &bytes[frame.offset + reader->signature().header_bytes()], frame.data_bytes), 0);
      frame_bytes += reader->signature().frame_bytes();
    }
    if (reader->locked()) {
      EXPECT_EQ(frame_bytes + reader->counts().skipped_bytes, bytes.size()) << "round " << round;
    } else {
      EXPECT_NE(reader->error().find("is not VDIF"), std::string::npos);
    }
  }
  for (int round = 0; round < 20000; ++round) {  // the header decoder alone
    uint8_t bytes[32];
    for (auto& b : bytes) b = static_cast<uint8_t>(random());
    frame_header h;
    const size_t available = random() % 33;
    if (decode_header(bytes, available, h)) {
      EXPECT_GE(available, h.header_bytes());
    }
  }
}

// A file of several mapping windows, with garbage runs and a truncated last
// frame, read while the pages behind are released: every frame arrives with
// its own bytes, every other byte is counted as skipped.
TEST(FrameReader, LargeFilesAreReadWholeWhileThePagesBehindAreReleased) {
  std::mt19937 random(21);
  frame_header h;
  h.length_units = 1004;  // 8032 bytes
  h.bits_per_sample = 2;
  std::vector<uint8_t> bytes;
  std::vector<uint64_t> frame_offsets;
  for (uint32_t f = 0; bytes.size() < (size_t{40} << 20); ++f) {
    if (f % 1000 == 999) bytes.resize(bytes.size() + 1 + random() % 5000, 0x55);  // garbage
    frame_offsets.push_back(bytes.size());
    bytes.resize(bytes.size() + h.frame_bytes());
    h.frame_number = f;
    encode_header(h, &bytes[frame_offsets.back()]);
    for (size_t i = frame_offsets.back() + 32; i < bytes.size(); i += 4) put_word(bytes, i, random());
  }
  bytes.resize(bytes.size() - 1000);  // the last frame cut short
  scratch_file file;
  std::ofstream(file.path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  std::string error;
  auto reader = frame_reader::create(file.path.string(), error);
  ASSERT_TRUE(reader) << error;
  frame_view frame;
  size_t count = 0;
  while (reader->next(frame)) {
    ASSERT_LT(count, frame_offsets.size());
    ASSERT_EQ(frame.offset, frame_offsets[count]);
    ASSERT_EQ(frame.header.frame_number, count);
    ASSERT_EQ(std::memcmp(frame.data, &bytes[frame.offset + 32], frame.data_bytes), 0);
    reader->release_before(frame.offset);
    ++count;
  }
  EXPECT_TRUE(reader->error().empty()) << reader->error();
  EXPECT_EQ(count, frame_offsets.size() - 1);
  EXPECT_EQ(reader->counts().truncated, 1u);
  EXPECT_EQ(count * h.frame_bytes() + reader->counts().skipped_bytes, bytes.size());
}

// A recording cut short while it is being read ends with a message, not a
// signal; an empty file is no VDIF.
TEST(FrameReader, AFileThatShrinksWhileReadEndsWithAMessage) {
  frame_header h;
  h.length_units = 1004;
  h.bits_per_sample = 2;
  std::vector<uint8_t> bytes(size_t{64} << 20);
  for (size_t at = 0, f = 0; at + h.frame_bytes() <= bytes.size(); at += h.frame_bytes(), ++f) {
    h.frame_number = static_cast<uint32_t>(f);
    encode_header(h, &bytes[at]);
  }
  scratch_file file;
  std::ofstream(file.path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  std::string error;
  auto reader = frame_reader::create(file.path.string(), error);
  ASSERT_TRUE(reader) << error;
  frame_view frame;
  ASSERT_TRUE(reader->next(frame));
  fs::resize_file(file.path, size_t{40} << 20);  // beyond the first window
  while (reader->next(frame)) ASSERT_LT(frame.offset, size_t{40} << 20);
  EXPECT_NE(reader->error().find("is shorter than when it was opened"), std::string::npos) << reader->error();

  fs::resize_file(file.path, 0);
  auto empty = frame_reader::create(file.path.string(), error);
  ASSERT_TRUE(empty) << error;
  EXPECT_FALSE(empty->next(frame));
  EXPECT_NE(empty->error().find("is not VDIF"), std::string::npos);
}

}  // namespace
}  // namespace korva::vdif
