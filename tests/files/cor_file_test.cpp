#include "cor_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cor_reader.h"
#include "temporary_folder.h"

namespace {

namespace fs = std::filesystem;
using namespace korva;

constexpr int32_t epoch_2020 = 1577836800;  // 2020/001 00:00:00 UTC

struct CorFileTest : ::testing::Test {
  std::unique_ptr<schedule_tables> tables = std::make_unique<schedule_tables>();
  std::unique_ptr<cor_file_table> files = std::make_unique<cor_file_table>();
  message_buffer message;
  korva::testing::temporary_folder folder;
  const std::string dir = folder.path().string();

  void SetUp() override {
    std::memset(tables.get(), 0, sizeof *tables);
    tables->terminal = {"ADS", 32768, 2, 1};
    add_station(0, "A", "Alpha", 1.0, -2.0, 3.5);
    add_station(1, "B", "Bravo", 4.0, 5.0, 6.0);
    add_station(2, "C", "Charlie", -7.25, 8.0, 9.0);
    tables->sources[0] = {"3C273", 1.25, 0.5};
    tables->sources[1] = {"OJ287", 2.5, -0.25};
    add_stream(0, "X1", "OJ287", 8.4e9, 1024, 4);
    add_stream(1, "S1", "3C273", 2.2e9, 512, 3);
    tables->processes[0] = {epoch_2020, 10, "3C273", "AC"};
  }

  void add_station(int i, const char* code, const char* name, double x, double y, double z) {
    std::strcpy(tables->codes[i].code, code);
    std::strcpy(tables->stations[i].name, name);
    tables->stations[i].x = x, tables->stations[i].y = y, tables->stations[i].z = z;
  }
  void add_stream(int s, const char* name, const char* source, double frequency, int32_t fft, int32_t pp) {
    stream_info& st = tables->streams[s];
    std::strcpy(st.name, name);
    std::strcpy(st.source, source);
    st.frequency = frequency, st.channel = 1, st.fft_points = fft, st.pp_per_second = pp;
  }
  std::string path(const char* a, const char* b, const char* stream) const {
    return dir + "/" + a + "_" + b + "_2020001000000_" + stream + ".cor";
  }
  int32_t open() { return korva_open_cor_file(tables->processes[0], *tables, dir.c_str(), *files, message); }
  int32_t close() { return korva_close_cor_file(tables->processes[0], *tables, dir.c_str(), *files, message); }
};

TEST_F(CorFileTest, TwoStationsAndTwoStreamsGiveSixFilesWithoutTheAbsentStation) {
  ASSERT_EQ(open(), 1);
  EXPECT_STREQ(message.text, "korva_open_cor_file: All cor-file have been created");
  for (int a : {0, 2})
    for (int b : {0, 2})
      for (int s : {0, 1}) EXPECT_EQ(files->file[a][b][s] != nullptr, a <= b) << a << b << s;
  for (int s : {0, 1}) EXPECT_EQ(files->file[0][1][s], nullptr);
  ASSERT_EQ(close(), 1);
  EXPECT_STREQ(message.text, "All cor-file have been closed");
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().string());
  std::sort(names.begin(), names.end());
  std::vector<std::string> expected{path("Alpha", "Alpha", "S1"),   path("Alpha", "Alpha", "X1"),
                                    path("Alpha", "Charlie", "S1"), path("Alpha", "Charlie", "X1"),
                                    path("Charlie", "Charlie", "S1"), path("Charlie", "Charlie", "X1")};
  EXPECT_EQ(names, expected);
}

TEST_F(CorFileTest, HeaderHoldsEveryFieldAtItsOffset) {
  ASSERT_EQ(open(), 1);
  ASSERT_EQ(close(), 1);
  cor_reader::cor_file f;
  ASSERT_TRUE(cor_reader::read(path("Alpha", "Charlie", "S1"), f));
  ASSERT_EQ(f.bytes.size(), 256u);
  EXPECT_EQ(std::vector<unsigned char>(f.bytes.begin(), f.bytes.begin() + 12),
            (std::vector<unsigned char>{0x83, 0xF9, 0xA2, 0x3E, 0, 0, 0, 1, 0, 0, 0, 1}));
  EXPECT_EQ(f.magic, std::bit_cast<uint32_t>(static_cast<float>(1 / 3.141592653589793)));
  EXPECT_EQ(f.sample_rate, 32768);
  EXPECT_EQ(f.frequency, 2.2e9);
  EXPECT_EQ(f.fft_points, 512);
  EXPECT_EQ(f.record_count, 30);
  EXPECT_EQ(f.first.name, "Alpha");
  EXPECT_EQ(f.first.y, -2.0);
  EXPECT_EQ(f.second.name, "Charlie");
  EXPECT_EQ(f.second.x, -7.25);
  EXPECT_EQ(f.second.z, 9.0);
  EXPECT_TRUE(f.first.reserved_zero && f.second.reserved_zero && f.reserved_zero);
  EXPECT_EQ(f.source_name, "3C273");  // the process's source, not the stream's
  EXPECT_EQ(f.ra, 1.25);
  EXPECT_EQ(f.dec, 0.5);
}

TEST_F(CorFileTest, FilesAreCreatedInStationThenStreamOrder) {
  fs::create_directory(path("Alpha", "Charlie", "X1"));  // the third file cannot be created
  ASSERT_EQ(open(), -1);
  EXPECT_EQ(std::string(message.text),
            "korva_open_cor_file: Can't create cor-file[" + path("Alpha", "Charlie", "X1") + "]");
  EXPECT_TRUE(fs::exists(path("Alpha", "Alpha", "X1")));
  EXPECT_TRUE(fs::exists(path("Alpha", "Alpha", "S1")));
  EXPECT_FALSE(fs::exists(path("Alpha", "Charlie", "S1")));
  EXPECT_FALSE(fs::exists(path("Charlie", "Charlie", "X1")));
}

TEST_F(CorFileTest, RecordsAreReplacedWhenTheProcessRunsAgain) {
  ASSERT_EQ(open(), 1);
  std::vector<float> spectrum(1024, 0.5f);
  cor_record_header header{};
  for (int r = 0; r < 2; ++r) ASSERT_EQ(korva_write_cor_record(*files, 0, 2, 0, header, spectrum.data(), 512, message), 1);
  ASSERT_EQ(close(), 1);
  EXPECT_EQ(fs::file_size(path("Alpha", "Charlie", "X1")), 256u + 2 * (128 + 4096));
  ASSERT_EQ(open(), 1);
  ASSERT_EQ(close(), 1);
  EXPECT_EQ(fs::file_size(path("Alpha", "Charlie", "X1")), 256u);
}

TEST_F(CorFileTest, StreamSourceServesWhenTheProcessSourceIsMissing) {
  std::memcpy(tables->processes[0].source, "NOT-IN-THE-TABLE", 16);  // full width, no NUL
  ASSERT_EQ(open(), 1);
  ASSERT_EQ(close(), 1);
  cor_reader::cor_file x, s;
  ASSERT_TRUE(cor_reader::read(path("Alpha", "Alpha", "X1"), x));
  ASSERT_TRUE(cor_reader::read(path("Alpha", "Alpha", "S1"), s));
  EXPECT_EQ(x.source_name, "OJ287");
  EXPECT_EQ(x.dec, -0.25);
  EXPECT_EQ(s.source_name, "3C273");

  std::strcpy(tables->streams[0].source, "NOWHERE");
  ASSERT_EQ(open(), -1);
  EXPECT_STREQ(message.text, "find_source: Not found the source-info[NOWHERE]");
  ASSERT_NE(files->file[0][0][0], nullptr);  // created, left open and empty
  ASSERT_EQ(close(), 1);
  EXPECT_EQ(fs::file_size(path("Alpha", "Alpha", "X1")), 0u);
}

TEST_F(CorFileTest, RecordHeaderFieldsAndPeriodTimes) {
  ASSERT_EQ(open(), 1);
  std::vector<float> spectrum(512);
  for (size_t i = 0; i < spectrum.size(); ++i) spectrum[i] = static_cast<float>(i) - 100.5f;
  for (int p = 0; p < 3; ++p) {
    cor_record_header header{};
    set_period_times(header, epoch_2020, p, 3);
    header.first = {epoch_2020, 77, {1e-3, 2e-7, -3e-11, 4e-15, 5e-19}};  // a stray "zero" word
    header.second = {epoch_2020, 0, {-1.5e-3, 0, 0, 0, 6e-20}};
    ASSERT_EQ(korva_write_cor_record(*files, 0, 0, 1, header, spectrum.data(), 256, message), 1);
  }
  ASSERT_EQ(close(), 1);
  cor_reader::cor_file f;
  ASSERT_TRUE(cor_reader::read(path("Alpha", "Alpha", "S1"), f));
  ASSERT_EQ(f.records.size(), 3u);
  ASSERT_TRUE(f.whole_records);
  const int32_t t = epoch_2020;
  const int32_t expected[3][4] = {{t, 0, t, 333333333}, {t, 333333333, t, 666666666}, {t, 666666666, t + 1, 0}};
  for (int p = 0; p < 3; ++p) {
    const auto& r = f.records[p];
    EXPECT_EQ((std::vector<int32_t>{r.start_second, r.start_nanoseconds, r.end_second, r.end_nanoseconds}),
              std::vector<int32_t>(expected[p], expected[p] + 4));
    EXPECT_EQ(r.period_length, 0.33333334f);
    EXPECT_TRUE(r.reserved_zero);
    EXPECT_EQ(r.first.zero, 0u);
    EXPECT_EQ(r.first.epoch, t);
    EXPECT_EQ(r.first.delay[2], -3e-11);
    EXPECT_EQ(r.second.delay[0], -1.5e-3);
    EXPECT_EQ(r.second.delay[4], 6e-20);
    EXPECT_EQ(r.spectrum[255], std::complex<float>(409.5f, 410.5f));
  }
  cor_record_header one{};
  set_period_times(one, t, 0, 1);
  EXPECT_EQ((std::vector<int32_t>{one.start_second, one.start_nanoseconds, one.end_second, one.end_nanoseconds}),
            (std::vector<int32_t>{t, 0, t + 1, 0}));
  EXPECT_EQ(one.period_length, 1.0f);
}

TEST_F(CorFileTest, FailedWritesAndClosesAreReportedWithTheFileName) {
  const std::string full = path("Alpha", "Alpha", "X1");
  ASSERT_EQ(symlink("/dev/full", full.c_str()), 0);
  ASSERT_EQ(open(), 1);  // the header is still in the stream's buffer
  std::vector<float> spectrum(1024);
  cor_record_header header{};
  EXPECT_EQ(korva_write_cor_record(*files, 0, 0, 0, header, spectrum.data(), 512, message), -1);
  EXPECT_EQ(std::string(message.text), "korva_write_cor_record: Can't write cor-file[" + full + "]");
  EXPECT_EQ(close(), -1);
  EXPECT_EQ(std::string(message.text), "korva_close_cor_file: Can't close cor-file[" + full + "]");
  EXPECT_EQ(files->file[2][2][1], nullptr);  // every other file was closed too

  // A header alone fails at the final flush.
  ASSERT_EQ(open(), 1);
  EXPECT_EQ(close(), -1);
}

TEST_F(CorFileTest, PathsTooLongOrUsedTwiceAreRefused) {
  std::strcpy(tables->streams[1].name, "X1");
  ASSERT_EQ(open(), -1);
  EXPECT_EQ(std::string(message.text),
            "korva_open_cor_file: Can't create cor-file[" + path("Alpha", "Alpha", "X1") + "] (name used twice)");
  close();
  std::string long_dir = dir + "/" + std::string(200, 'd');
  fs::create_directory(long_dir);
  EXPECT_EQ(korva_open_cor_file(tables->processes[0], *tables, long_dir.c_str(), *files, message), -1);
  EXPECT_NE(std::strstr(message.text, "(path too long)"), nullptr);
}

}  // namespace
