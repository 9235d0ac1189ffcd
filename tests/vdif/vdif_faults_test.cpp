// Conversion of recordings with frame-level faults: every fault gives either
// its message (and no raw file) or its count, fill where the data was bad,
// and the recording's own bytes everywhere else.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "vdif_conversion.h"
#include "vdif_header.h"
#include "vdif_writer.h"

namespace korva::vdif {
namespace {

namespace fs = std::filesystem;
using frame_bytes = std::vector<uint8_t>;

constexpr int64_t process_epoch = 1712750400;  // 2024/101 12:00:00
constexpr size_t second_bytes = 500000;        // 1 Msps, 2 bits, 2 channels

struct scratch_directory {
  fs::path path;
  scratch_directory() {
    std::string pattern = (fs::temp_directory_path() / "korva_vdif_faults_XXXXXX").string();
    path = mkdtemp(pattern.data());
  }
  ~scratch_directory() { fs::remove_all(path); }
};

std::vector<uint8_t> read_bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void write_bytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

terminal_info terminal(int32_t msps, int32_t bits, int32_t channels) {
  terminal_info t{};
  std::snprintf(t.name, sizeof t.name, "T");
  t.sample_rate = msps * 1000000;
  t.bits = bits;
  t.channels = channels;
  return t;
}

// A recording of random samples from one second before the process to one
// second after it (5 s), as VDIF frames of the given layout; truth holds
// the raw words of the process's 3 seconds.
class FaultyRecordings : public ::testing::Test {
 protected:
  void SetUp() override {
    schedule_ = scratch_.path / "s.sch";
    std::ofstream(schedule_) << "$Terminal T 1Msps/2bit/2ch\n"
                                "$Station A ALPHA -3948382.481 3313086.283 3744779.842\n"
                                "$Station B BRAVO -3957456.132 3250691.115 3789615.974\n"
                                "$Source SRC1 12h29m06.6997 +02d03'08.598\n"
                                "$Process 2024/101 12:00:00 3 SRC1 AB\n";
    fs::create_directories(scratch_.path / "raw");
  }

  std::vector<frame_bytes> make_frames(sim::vdif_layout layout, terminal_info t = terminal(1, 2, 2),
                                       uint32_t seed = 1) {
    std::vector<uint8_t> raw(5 * second_bytes * t.channels / 2 * t.bits / 2 * t.sample_rate / 1000000);
    std::mt19937 random(seed);
    for (auto& b : raw) b = static_cast<uint8_t>(random());
    truth_.assign(raw.begin() + static_cast<long>(raw.size() / 5), raw.begin() + static_cast<long>(raw.size() / 5 * 4));
    write_bytes(scratch_.path / "truth.raw", raw);
    std::string error;
    sim::vdif_format format;
    format.layout = layout;
    EXPECT_TRUE(sim::write_vdif_from_raw((scratch_.path / "truth.raw").string(), (scratch_.path / "clean.vdif").string(),
                                         t, static_cast<int32_t>(process_epoch - 1), "A", format, error))
        << error;
    const std::vector<uint8_t> all = read_bytes(scratch_.path / "clean.vdif");
    frame_header h;
    decode_header(all.data(), all.size(), h);
    std::vector<frame_bytes> frames;
    for (size_t at = 0; at < all.size(); at += h.frame_bytes()) frames.emplace_back(&all[at], &all[at] + h.frame_bytes());
    return frames;
  }

  fs::path write_recording(const std::vector<frame_bytes>& frames, const std::string& name = "rec.vdif") {
    std::vector<uint8_t> bytes;
    for (const auto& f : frames) bytes.insert(bytes.end(), f.begin(), f.end());
    write_bytes(scratch_.path / name, bytes);
    return scratch_.path / name;
  }

  // Converts for station code; the raw file's bytes go to raw (empty when none).
  bool convert(const std::vector<fs::path>& files, std::string& error, const std::string& code = "A",
               channel_selection selection = {}, interleave_method method = interleave_method::best) {
    conversion_options options;
    options.method = method;
    options.schedule_path = schedule_.string();
    options.station_code = code;
    options.raw_dir = (scratch_.path / "raw").string();
    options.selection = selection;
    options.report_path = (scratch_.path / "report.txt").string();
    for (const auto& f : files) options.files.push_back(f.string());
    result_ = conversion_result{};
    fs::remove(raw_path(code));
    std::FILE* out = std::tmpfile();
    const bool ok = convert_recording(options, out, result_, error);
    std::rewind(out);
    lines_.clear();
    char line[2048];
    while (std::fgets(line, sizeof line, out)) lines_.emplace_back(line);
    std::fclose(out);
    raw_ = fs::exists(raw_path(code)) ? read_bytes(raw_path(code)) : std::vector<uint8_t>{};
    return ok;
  }

  fs::path raw_path(const std::string& code) const {
    return scratch_.path / "raw" / ((code == "A" ? "ALPHA" : "BRAVO") + std::string("_2024101120000.raw"));
  }

  // Raw bytes of second s (0..2) of the process.
  std::vector<uint8_t> second(const std::vector<uint8_t>& bytes, int s) const {
    const size_t size = bytes.size() / 3;
    return std::vector<uint8_t>(bytes.begin() + static_cast<long>(s * size), bytes.begin() + static_cast<long>((s + 1) * size));
  }

  // Number of whole frame-sized stretches where raw_ differs from the truth.
  size_t differing_frames(size_t frame_raw_bytes) const {
    size_t n = 0;
    for (size_t at = 0; at < truth_.size(); at += frame_raw_bytes) {
      n += std::memcmp(&truth_[at], &raw_[at], frame_raw_bytes) != 0;
    }
    return n;
  }

  static void set_invalid(frame_bytes& f) { f[3] |= 0x80; }

  scratch_directory scratch_;
  fs::path schedule_;
  std::vector<uint8_t> truth_, raw_;
  conversion_result result_;
  std::vector<std::string> lines_;
};

TEST_F(FaultyRecordings, CleanRecordingGivesItsOwnBytesAndSkipsWhatLiesOutsideTheProcess) {
  for (auto layout : {sim::vdif_layout::channels, sim::vdif_layout::threads}) {
    const auto frames = make_frames(layout);
    std::string error;
    ASSERT_TRUE(convert({write_recording(frames)}, error)) << error;
    EXPECT_EQ(raw_, truth_);
    EXPECT_EQ(result_.assembly.frames_used, frames.size() * 3 / 5);
    EXPECT_EQ(result_.assembly.outside, frames.size() * 2 / 5);
    EXPECT_EQ(result_.assembly.filled_frames, 0u);
    ASSERT_EQ(lines_.size(), 4u);
    EXPECT_EQ(lines_[0], "korva_vdif: ALPHA 2024/101 12:00:00 valid 1.000000\n");
    EXPECT_EQ(lines_[3].rfind("korva_vdif: wrote ", 0), 0u);
    EXPECT_EQ(read_bytes(scratch_.path / "report.txt").size(), 3 * std::string("2024/101 12:00:00 1.000000\n").size());
  }
}

TEST_F(FaultyRecordings, ShuffledRepeatedLateAndGarbageSeparatedFramesStillGiveTheSameBytes) {
  auto frames = make_frames(sim::vdif_layout::threads);
  std::mt19937 random(4);
  const size_t per_second = frames.size() / 5;
  for (size_t s = 0; s < 5; ++s) {  // any order within a second
    std::shuffle(frames.begin() + static_cast<long>(s * per_second), frames.begin() + static_cast<long>((s + 1) * per_second), random);
  }
  std::swap(frames[2 * per_second - 1], frames[2 * per_second + 1]);  // a frame of the next second arrives early
  frames.insert(frames.begin() + 150, frames[149]);                   // repeated
  frames.insert(frames.begin() + 260, frames[240]);                   // repeated, later in its second
  frames.insert(frames.begin() + 270, frames[100]);                   // a second after its own: too late
  frame_bytes garbage(3001);
  for (auto& b : garbage) b = static_cast<uint8_t>(random());
  frames.insert(frames.begin() + 120, garbage);
  frames.insert(frames.begin() + 200, frame_bytes(7, 0xff));
  std::string error;
  ASSERT_TRUE(convert({write_recording(frames)}, error)) << error;
  EXPECT_EQ(raw_, truth_);
  EXPECT_EQ(result_.assembly.repeated, 2u);
  EXPECT_EQ(result_.reading.skipped_bytes, 3008u);
  EXPECT_EQ(result_.reading.skipped_runs, 2u);
  EXPECT_EQ(result_.assembly.late, 1u);
  EXPECT_EQ(result_.assembly.filled_frames, 0u);
}

TEST_F(FaultyRecordings, InvalidShortAndWrongLengthFramesAreFilledAndCounted) {
  auto frames = make_frames(sim::vdif_layout::channels);  // 100 frames per second
  for (int f = 110; f < 120; ++f) set_invalid(frames[f]);  // process second 0
  frames[250].resize(1200);                                 // cut short, second 1
  frame_header h;
  decode_header(frames[330].data(), 32, h);                 // second 2: a frame of another length
  h.length_units -= 100;
  encode_header(h, frames[330].data());
  frames[330].resize(h.frame_bytes());
  std::string error;
  ASSERT_TRUE(convert({write_recording(frames)}, error)) << error;
  EXPECT_EQ(result_.assembly.invalid, 10u);
  EXPECT_EQ(result_.reading.truncated, 1u);
  EXPECT_EQ(result_.reading.skipped_bytes, 1200u + h.frame_bytes());
  EXPECT_EQ(result_.assembly.filled_frames, 12u);
  EXPECT_EQ(differing_frames(5000), 12u);
  ASSERT_GE(lines_.size(), 3u);
  EXPECT_EQ(lines_[0], "korva_vdif: ALPHA 2024/101 12:00:00 valid 0.900000\n");
  EXPECT_EQ(lines_[1], "korva_vdif: ALPHA 2024/101 12:00:01 valid 0.990000\n");
  EXPECT_EQ(lines_[2], "korva_vdif: ALPHA 2024/101 12:00:02 valid 0.990000\n");
}

TEST_F(FaultyRecordings, MissingSecondsAndTruncatedEndAreFilledReproduciblyPerStation) {
  auto frames = make_frames(sim::vdif_layout::channels);
  frames.resize(310);                                                  // ends inside process second 2
  frames.back().resize(3000);                                          // with a truncated frame
  frames.erase(frames.begin() + 200, frames.begin() + 300);            // process second 1 missing
  std::string error;
  ASSERT_TRUE(convert({write_recording(frames)}, error)) << error;
  EXPECT_EQ(result_.reading.truncated, 1u);
  EXPECT_EQ(result_.assembly.filled_frames, 100u + 91u);
  EXPECT_EQ(second(raw_, 0), second(truth_, 0));
  EXPECT_NE(second(raw_, 1), second(truth_, 1));
  EXPECT_EQ(lines_[1], "korva_vdif: ALPHA 2024/101 12:00:01 valid 0.000000\n");
  EXPECT_EQ(lines_[2], "korva_vdif: ALPHA 2024/101 12:00:02 valid 0.090000\n");
  const auto alpha = raw_;
  ASSERT_TRUE(convert({scratch_.path / "rec.vdif"}, error)) << error;
  EXPECT_EQ(raw_, alpha);  // the same fill again
  ASSERT_TRUE(convert({scratch_.path / "rec.vdif"}, error, "B")) << error;
  EXPECT_EQ(second(raw_, 0), second(alpha, 0));
  EXPECT_NE(second(raw_, 1), second(alpha, 1));  // another station, other fill
}

TEST_F(FaultyRecordings, SeveralFilesAreReadInTurn) {
  auto frames = make_frames(sim::vdif_layout::threads);
  const std::vector<frame_bytes> first(frames.begin(), frames.begin() + 230), rest(frames.begin() + 230, frames.end());
  std::string error;
  ASSERT_TRUE(convert({write_recording(first, "one.vdif"), write_recording(rest, "two.vdif")}, error)) << error;
  EXPECT_EQ(raw_, truth_);
}

TEST_F(FaultyRecordings, UnusableRecordingsAreRefusedWithTheirMessageAndNoRawFile) {
  std::string error;
  auto expect_refusal = [&](const fs::path& file, const std::string& part, channel_selection selection = {}) {
    SCOPED_TRACE(part);
    EXPECT_FALSE(convert({file}, error, "A", selection));
    EXPECT_NE(error.find(part), std::string::npos) << error;
    EXPECT_EQ(error.rfind("korva_vdif: ", 0), 0u);
    EXPECT_EQ(error.find('\n'), std::string::npos);
    EXPECT_FALSE(fs::exists(raw_path("A")));
    EXPECT_TRUE(fs::is_empty(scratch_.path / "raw"));
  };
  std::vector<uint8_t> noise(300000);
  std::mt19937 random(9);
  for (auto& b : noise) b = static_cast<uint8_t>(random());
  write_bytes(scratch_.path / "noise.vdif", noise);
  expect_refusal(scratch_.path / "noise.vdif", "is not VDIF");
  expect_refusal(scratch_.path / "missing.vdif", "can't read the recording");

  auto frames = make_frames(sim::vdif_layout::threads);
  auto edit = [&](auto change) {
    auto copy = frames;
    for (auto& f : copy) {
      frame_header h;
      decode_header(f.data(), 32, h);
      change(h);
      encode_header(h, f.data());
    }
    return write_recording(copy, "edited.vdif");
  };
  expect_refusal(edit([](frame_header& h) { h.complex = true; }), "complex samples");
  expect_refusal(edit([](frame_header& h) { h.bits_per_sample = 4; }), "4-bit samples");
  expect_refusal(edit([](frame_header& h) { h.bits_per_sample = 1; }), "1-bit samples, the schedule's mode 2-bit");
  expect_refusal(edit([](frame_header& h) { h.invalid = true; }), "holds no valid data for process 1");
  expect_refusal(edit([](frame_header& h) { h.seconds += 1000; }), "holds no valid data");
  expect_refusal(write_recording(frames), "thread 5 does not appear", channel_selection{{0, 5}, {}});
  expect_refusal(write_recording(frames), "gives 1 channels", channel_selection{{1}, {}});
  expect_refusal(write_recording(frames), "--channels needs a single-thread recording", channel_selection{{}, {0, 1}});
  // Frame numbers 0..49 of 100 per second: half the schedule's rate.
  expect_refusal(edit([](frame_header& h) { h.frame_number /= 2; }), "lower than the schedule's");
  expect_refusal(edit([](frame_header& h) { h.frame_number = h.frame_number * 2 + 1; }), "higher than the schedule's");

  frames = make_frames(sim::vdif_layout::channels, terminal(1, 2, 4));  // four channels, mode has two
  expect_refusal(write_recording(frames), "gives 4 channels");
}

TEST_F(FaultyRecordings, ChannelsOfASingleThreadCanBeChosenAndReordered) {
  auto frames = make_frames(sim::vdif_layout::channels);
  std::string error;
  ASSERT_TRUE(convert({write_recording(frames)}, error, "A", channel_selection{{}, {1, 0}})) << error;
  ASSERT_EQ(raw_.size(), truth_.size());
  for (size_t at = 0; at < truth_.size(); at += 2) {  // 16-bit channel fields swap
    ASSERT_EQ(raw_[at], truth_[at ^ 2]);
  }
  ASSERT_TRUE(convert({write_recording(make_frames(sim::vdif_layout::threads))}, error, "A",
                      channel_selection{{1, 0}, {}}))
      << error;
  EXPECT_EQ(raw_[0], truth_[2]);
}

// Frames of one frame number from all threads are interleaved together;
// where a thread's frame is invalid, missing, repeated or far out of order
// they are interleaved one by one. Either way the words, the fill and the
// counts are those of the thread-by-thread interleave.
TEST_F(FaultyRecordings, GatheredThreadFramesGiveTheBytesOfTheThreadByThreadInterleave) {
  auto frames = make_frames(sim::vdif_layout::threads);  // 2 threads of 50 frames a second
  const size_t per_second = frames.size() / 5;
  std::mt19937 random(17);
  std::shuffle(frames.begin() + static_cast<long>(2 * per_second), frames.begin() + static_cast<long>(3 * per_second),
               random);                                            // process second 1 in any order
  for (size_t f = per_second + 41; f < per_second + 61; f += 2) set_invalid(frames[f]);  // one thread, second 0
  frames.erase(frames.begin() + static_cast<long>(3 * per_second + 10));                // one frame of second 2
  frames.insert(frames.begin() + static_cast<long>(per_second + 80), frames[per_second + 70]);  // repeated
  std::rotate(frames.begin() + static_cast<long>(per_second + 100), frames.begin() + static_cast<long>(per_second + 101),
              frames.begin() + static_cast<long>(per_second + 190));  // second 0's last frame, into second 1: late
  const auto one = write_recording(std::vector<frame_bytes>(frames.begin(), frames.begin() + 333), "one.vdif");
  const auto two = write_recording(std::vector<frame_bytes>(frames.begin() + 333, frames.end()), "two.vdif");
  std::string error;
  ASSERT_TRUE(convert({one, two}, error, "A", {}, interleave_method::tables)) << error;
  const auto by_thread = raw_;
  const assembly_counts counts = result_.assembly;
  ASSERT_TRUE(convert({one, two}, error)) << error;
  EXPECT_EQ(raw_, by_thread);
  EXPECT_EQ(result_.assembly.frames_used, counts.frames_used);
  EXPECT_EQ(result_.assembly.filled_frames, 12u);
  EXPECT_EQ(counts.filled_frames, 12u);
  EXPECT_EQ(result_.assembly.repeated, 1u);
  EXPECT_EQ(result_.assembly.late, 1u);
  EXPECT_EQ(differing_frames(10000), 12u);  // a thread's frame gives half the bits of 10000 raw bytes
}

}  // namespace
}  // namespace korva::vdif
