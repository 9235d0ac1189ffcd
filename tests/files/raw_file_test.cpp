#include "raw_file.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "temporary_folder.h"

namespace korva {
namespace {

// Exact oracle for the window geometry: with rational arithmetic, the second s
// with a margin of 1/40 s spans [(40 s - 1) B / 40, (40 s + 41) B / 40).
int64_t floor_div(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}
int64_t page_floor(int64_t bytes) { return floor_div(bytes, 4096) * 4096; }
int64_t exact_start(int64_t s, int64_t rate) {
  const int64_t x = floor_div((40 * s - 1) * rate, 40);
  return x <= 0 ? 0 : page_floor(x);
}
int64_t exact_end(int64_t s, int64_t rate, int64_t size) {
  const int64_t y = floor_div((40 * s + 41) * rate, 40);
  return page_floor(y < size ? y : size);
}

TEST(RawWindowBytes, MatchesExactGeometryAtFirstInnerAndLastSecond) {
  for (const int64_t rate : {int64_t{128000000}, int64_t{4000001}, int64_t{500000}, int64_t{4095}}) {
    const int64_t seconds = 6;
    const int64_t size = seconds * rate;  // the file holds exactly the process
    for (int64_t s = 0; s < seconds; ++s) {
      const raw_window_span span = raw_window_bytes(s, static_cast<uint32_t>(rate), size);
      EXPECT_EQ(span.start, exact_start(s, rate)) << "rate " << rate << " second " << s;
      EXPECT_EQ(span.end, exact_end(s, rate, size)) << "rate " << rate << " second " << s;
      EXPECT_EQ(span.start % 4096, 0);
      EXPECT_EQ(span.end % 4096, 0);
    }
  }
}

TEST(RawWindowBytes, FirstSecondStartsAtZeroAndLastSecondEndsAtLastPageOfFile) {
  const uint32_t rate = 128000000;
  EXPECT_EQ(raw_window_bytes(0, rate, 10LL * rate).start, 0);
  // 4 seconds of 128,000,000 bytes (a whole number of pages): the end is the size.
  EXPECT_EQ(raw_window_bytes(3, rate, 4LL * rate).end, 512000000);
  // 4 seconds of 500,000 bytes: the last page boundary at or below the size.
  const raw_window_span last = raw_window_bytes(3, 500000, 2000000);
  EXPECT_EQ(last.end, 1998848);  // 488 * 4096 <= 2,000,000 < 489 * 4096
  EXPECT_LT(last.start, last.end);
}

TEST(RawWindowBytes, FileTooShortOrSecondBeforeEpochGivesNoWindow) {
  const uint32_t rate = 500000;
  const raw_window_span short_file = raw_window_bytes(3, rate, 2LL * rate);
  EXPECT_LE(short_file.end, short_file.start);
  const raw_window_span before = raw_window_bytes(-3, rate, 10LL * rate);
  EXPECT_LE(before.end, before.start);
  const raw_window_span empty_file = raw_window_bytes(0, rate, 0);
  EXPECT_EQ(empty_file.start, 0);
  EXPECT_EQ(empty_file.end, 0);
  const raw_window_span no_rate = raw_window_bytes(5, 0, 10LL * rate);
  EXPECT_LE(no_rate.end, no_rate.start);
}

TEST(RawWindowBytes, FarSecondsOfFastTerminalStayDefined) {
  // Seconds and rates at the top of their ranges: the window lies past any file.
  const uint32_t rate = 0xFFFFFFF8u;
  const raw_window_span far = raw_window_bytes(int64_t{1} << 32, rate, int64_t{1} << 40);
  EXPECT_LE(far.end, far.start);
  EXPECT_EQ(far.end, int64_t{1} << 40);
}

TEST(RawBytesPerSecond, UsesUnsigned32BitProduct) {
  terminal_info terminal{};
  terminal.sample_rate = 512000000;
  terminal.bits = 2;
  terminal.channels = 1;
  EXPECT_EQ(raw_bytes_per_second(terminal), 128000000u);
  // 4,000,000,000 does not fit a signed 32-bit product but does an unsigned one.
  terminal.sample_rate = 2000000000;
  terminal.bits = 2;
  terminal.channels = 1;
  EXPECT_EQ(raw_bytes_per_second(terminal), 500000000u);
  terminal.sample_rate = 16000000;
  terminal.bits = 1;
  terminal.channels = 16;
  EXPECT_EQ(raw_bytes_per_second(terminal), 32000000u);
}

TEST(RawFilePath, NamesStationAndUtcEpoch) {
  station_info station{};
  std::strcpy(station.name, "Tsukuba");
  std::tm utc{};
  utc.tm_year = 2008 - 1900;
  utc.tm_mon = 3;  // day 101 of 2008 is April 10
  utc.tm_mday = 10;
  utc.tm_hour = 12;
  const int32_t epoch = static_cast<int32_t>(timegm(&utc));
  char path[512];
  const int length = raw_file_path(path, sizeof path, "/data/raw", station, epoch);
  EXPECT_STREQ(path, "/data/raw/Tsukuba_2008101120000.raw");
  EXPECT_EQ(length, static_cast<int>(std::strlen(path)));

  raw_file_path(path, sizeof path, ".", station, 0);
  EXPECT_STREQ(path, "./Tsukuba_1970001000000.raw");

  // A name filling its whole field is taken up to the field's width only.
  std::memset(station.name, 'N', sizeof station.name);
  raw_file_path(path, sizeof path, "d", station, 0);
  EXPECT_STREQ(path, "d/NNNNNNNNNNNNNNNN_1970001000000.raw");

  // A short buffer is cut but the whole length is returned.
  char small[8];
  EXPECT_EQ(raw_file_path(small, sizeof small, "d", station, 0), 36);
  EXPECT_STREQ(small, "d/NNNNN");
}

// Schedule tables with three stations and raw files written in a temp dir.
class RawFiles : public ::testing::Test {
 protected:
  static constexpr int32_t epoch = 1207828800;  // 2008/101 12:00:00
  static constexpr uint32_t rate = 500000;      // 1 Msps, 2 bits, 2 channels

  void SetUp() override {
    tables = std::make_unique<schedule_tables>();
    tables->terminal.sample_rate = 1000000;
    tables->terminal.bits = 2;
    tables->terminal.channels = 2;
    add_station(0, "Ka", "KAS");
    add_station(1, "Ts", "TSUKUBA");
    add_station(2, "Mz", "MIZ");
    for (raw_descriptor& d : descriptors) d.fd = -1;
  }
  void TearDown() override {
    for (raw_window& w : windows) {
      if (w.base != nullptr) korva_umap_raw_file(*process, *tables, descriptors, windows, 0, message);
    }
    if (process != nullptr) korva_close_raw_file(*process, *tables, dir.c_str(), descriptors, message);
  }

  void add_station(int i, const char* code, const char* name) {
    std::strcpy(tables->codes[i].code, code);
    std::strcpy(tables->stations[i].name, name);
  }
  process_info* set_process(int i, int32_t start, int32_t length, const char* stations) {
    process_info& p = tables->processes[i];
    p.epoch = start;
    p.length = length;
    std::strncpy(p.stations, stations, sizeof p.stations);
    process = &p;
    return &p;
  }
  std::string path_of(const char* name, int32_t start) {
    station_info station{};
    std::strcpy(station.name, name);
    char path[512];
    raw_file_path(path, sizeof path, dir.c_str(), station, start);
    return path;
  }
  // A file whose word w holds w ^ salt, size_bytes long (a multiple of 4).
  void write_raw(const char* name, int32_t start, int64_t size_bytes, uint32_t salt) {
    std::vector<uint32_t> words(static_cast<std::size_t>(size_bytes / 4));
    for (std::size_t w = 0; w < words.size(); ++w) words[w] = static_cast<uint32_t>(w) ^ salt;
    std::FILE* f = std::fopen(path_of(name, start).c_str(), "w");
    ASSERT_NE(f, nullptr);
    if (!words.empty()) {
      ASSERT_EQ(std::fwrite(words.data(), 4, words.size(), f), words.size());
    }
    ASSERT_EQ(std::fclose(f), 0);
  }

  testing::temporary_folder folder;
  const std::string dir = folder.path().string();
  std::unique_ptr<schedule_tables> tables;
  process_info* process = nullptr;
  raw_descriptor_table descriptors;
  raw_window_table windows;
  message_buffer message;
};

TEST_F(RawFiles, MapsEveryTakingPartStationWithTheFilesWords) {
  set_process(0, epoch, 3, "KaMz");
  write_raw("KAS", epoch, 3 * int64_t{rate}, 0xA5000000u);
  write_raw("MIZ", epoch, 3 * int64_t{rate}, 0x5A000000u);

  ASSERT_EQ(korva_open_raw_file(*process, *tables, dir.c_str(), descriptors, message), 1);
  EXPECT_STREQ(message.text, "korva_open_raw_file : All raw-files have been opened");
  EXPECT_GE(descriptors[0].fd, 0);
  EXPECT_EQ(descriptors[1].fd, -1);
  EXPECT_GE(descriptors[2].fd, 0);

  for (int32_t second = 0; second < 3; ++second) {
    ASSERT_EQ(korva_mmap_raw_file(*process, *tables, descriptors, windows, epoch + second, message), 1);
    EXPECT_STREQ(message.text, "korva_mmap_raw_file: All raw-file have been mapped");
    EXPECT_EQ(windows[1].base, nullptr);
    const int64_t size = 3 * int64_t{rate};
    for (const auto& [slot, salt] : {std::pair{0, 0xA5000000u}, std::pair{2, 0x5A000000u}}) {
      const raw_window& w = windows[slot];
      ASSERT_NE(w.base, nullptr);
      EXPECT_EQ(w.first_word * 4, exact_start(second, rate));
      EXPECT_EQ((w.first_word + w.word_count) * 4, exact_end(second, rate, size));
      for (int64_t k = 0; k < w.word_count; ++k) {
        ASSERT_EQ(w.base[k], static_cast<uint32_t>(w.first_word + k) ^ salt) << "word " << k;
      }
    }
    ASSERT_EQ(korva_umap_raw_file(*process, *tables, descriptors, windows, epoch + second, message), 1);
    EXPECT_STREQ(message.text, "korva_umap_raw_file: All raw-file have been unmapped");
    for (const raw_window& w : windows) EXPECT_EQ(w.base, nullptr);
  }
  EXPECT_EQ(windows[0].first_word, 0);

  ASSERT_EQ(korva_close_raw_file(*process, *tables, dir.c_str(), descriptors, message), 1);
  EXPECT_STREQ(message.text, "korva_open_raw_file : All raw-files have been closed");
  for (const raw_descriptor& d : descriptors) EXPECT_EQ(d.fd, -1);
}

TEST_F(RawFiles, StationOfAnEarlierProcessOnlyGetsNothingInTheNext) {
  write_raw("KAS", epoch, int64_t{rate}, 0);
  write_raw("TSUKUBA", epoch, int64_t{rate}, 0);
  write_raw("TSUKUBA", epoch + 100, int64_t{rate}, 0);
  set_process(0, epoch, 1, "KaTs");
  ASSERT_EQ(korva_open_raw_file(*process, *tables, dir.c_str(), descriptors, message), 1);
  ASSERT_EQ(korva_mmap_raw_file(*process, *tables, descriptors, windows, epoch, message), 1);
  EXPECT_NE(windows[0].base, nullptr);
  korva_umap_raw_file(*process, *tables, descriptors, windows, epoch, message);
  korva_close_raw_file(*process, *tables, dir.c_str(), descriptors, message);

  set_process(1, epoch + 100, 1, "Ts");
  ASSERT_EQ(korva_open_raw_file(*process, *tables, dir.c_str(), descriptors, message), 1);
  EXPECT_EQ(descriptors[0].fd, -1);
  EXPECT_GE(descriptors[1].fd, 0);
  ASSERT_EQ(korva_mmap_raw_file(*process, *tables, descriptors, windows, epoch + 100, message), 1);
  EXPECT_EQ(windows[0].base, nullptr);
  EXPECT_EQ(windows[0].word_count, 0);
  EXPECT_NE(windows[1].base, nullptr);
}

TEST_F(RawFiles, MissingFileQuotesTheFullPath) {
  write_raw("KAS", epoch, int64_t{rate}, 0);
  set_process(0, epoch, 1, "KaMz");
  EXPECT_EQ(korva_open_raw_file(*process, *tables, dir.c_str(), descriptors, message), -1);
  const std::string expected =
      "korva_open_raw_file : Can't open the raw-file[" + dir + "/MIZ_2008101120000.raw]";
  EXPECT_EQ(message.text, expected);
  EXPECT_GE(descriptors[0].fd, 0);  // opened before the failure, stays open
  EXPECT_EQ(descriptors[2].fd, -1);
}

TEST_F(RawFiles, PathLongerThan255CharactersIsRefusedUncut) {
  set_process(0, epoch, 1, "Ka");
  const std::string long_dir = dir + "/" + std::string(240, 'd');
  EXPECT_EQ(korva_open_raw_file(*process, *tables, long_dir.c_str(), descriptors, message), -1);
  const std::string path = long_dir + "/KAS_2008101120000.raw";
  EXPECT_GT(path.size(), 255u);
  EXPECT_EQ(message.text, "korva_open_raw_file : Too long path of the raw-file[" + path + "]");
  EXPECT_EQ(descriptors[0].fd, -1);

  // Exactly 255 characters is still accepted (and here simply missing).
  const std::string fitting_dir = long_dir.substr(0, long_dir.size() - (path.size() - 255));
  EXPECT_EQ(korva_open_raw_file(*process, *tables, fitting_dir.c_str(), descriptors, message), -1);
  EXPECT_EQ(message.text, "korva_open_raw_file : Can't open the raw-file[" + fitting_dir +
                              "/KAS_2008101120000.raw]");
}

TEST_F(RawFiles, FileTooShortFailsTheMapWithPaddedByteRange) {
  write_raw("KAS", epoch, 0, 0);
  write_raw("MIZ", epoch, int64_t{rate}, 0);
  set_process(0, epoch, 3, "KaMz");
  ASSERT_EQ(korva_open_raw_file(*process, *tables, dir.c_str(), descriptors, message), 1);
  EXPECT_EQ(korva_mmap_raw_file(*process, *tables, descriptors, windows, epoch, message), -1);
  EXPECT_STREQ(message.text,
               "korva_mmap_raw_file: Can't mmap the raw-file[KAS: <0000000000000000:0000000000000000>]");
  EXPECT_EQ(windows[0].base, nullptr);

  // Kas removed from the process: Miz maps its one second, then lacks the third.
  set_process(1, epoch, 3, "Mz");
  korva_close_raw_file(tables->processes[0], *tables, dir.c_str(), descriptors, message);
  ASSERT_EQ(korva_open_raw_file(*process, *tables, dir.c_str(), descriptors, message), 1);
  ASSERT_EQ(korva_mmap_raw_file(*process, *tables, descriptors, windows, epoch, message), 1);
  korva_umap_raw_file(*process, *tables, descriptors, windows, epoch, message);
  EXPECT_EQ(korva_mmap_raw_file(*process, *tables, descriptors, windows, epoch + 2, message), -1);
  char expected[128];
  std::snprintf(expected, sizeof expected,
                "korva_mmap_raw_file: Can't mmap the raw-file[MIZ: <%016" PRId64 ":%016" PRId64 ">]",
                exact_start(2, rate), page_floor(rate));
  EXPECT_STREQ(message.text, expected);
  EXPECT_STREQ(expected, "korva_mmap_raw_file: Can't mmap the raw-file[MIZ: <0000000000987136:0000000000499712>]");
}

TEST_F(RawFiles, FileEndingInsideTheWindowGivesAShorterWindow) {
  // Two seconds and a half: the second second's window ends at the file's last page.
  const int64_t size = 2 * int64_t{rate} + 250000;
  write_raw("TSUKUBA", epoch, size, 7);
  set_process(0, epoch, 3, "Ts");
  ASSERT_EQ(korva_open_raw_file(*process, *tables, dir.c_str(), descriptors, message), 1);
  ASSERT_EQ(korva_mmap_raw_file(*process, *tables, descriptors, windows, epoch + 2, message), 1);
  const raw_window& w = windows[1];
  EXPECT_EQ((w.first_word + w.word_count) * 4, page_floor(size));
  EXPECT_EQ(w.base[w.word_count - 1], static_cast<uint32_t>(w.first_word + w.word_count - 1) ^ 7u);
}

}  // namespace
}  // namespace korva
