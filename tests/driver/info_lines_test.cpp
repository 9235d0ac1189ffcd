// The information lines, byte for byte.
#include "info_lines.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace korva {
namespace {

std::string printed(void (*print)(std::FILE*, const run_settings&, const terminal_info&),
                    const run_settings& settings, const terminal_info& terminal) {
  char* data = nullptr;
  std::size_t size = 0;
  std::FILE* file = open_memstream(&data, &size);
  print(file, settings, terminal);
  std::fclose(file);
  std::string text(data, size);
  std::free(data);
  return text;
}

template <typename Print>
std::string printed_by(Print print) {
  char* data = nullptr;
  std::size_t size = 0;
  std::FILE* file = open_memstream(&data, &size);
  print(file);
  std::fclose(file);
  std::string text(data, size);
  std::free(data);
  return text;
}

TEST(InfoLines, StartLines) {
  run_settings settings;
  std::strcpy(settings.schedule_path, "examples/example.sch");
  std::strcpy(settings.raw_dir, "out/raw");
  std::strcpy(settings.cor_dir, ".");
  settings.thread_count = 8;
  terminal_info terminal{};
  std::strcpy(terminal.name, "MODEA");
  terminal.sample_rate = 32000000;
  terminal.bits = 2;
  terminal.channels = 4;
  EXPECT_EQ(printed(print_start_lines, settings, terminal),
            "KORVA_CORR [Information] : Schedule-File      = examples/example.sch\n"
            "KORVA_CORR [Information] : Terminal           = MODEA 0032Msps/2bit/04ch\n"
            "KORVA_CORR [Information] : Raw-File Directory = out/raw\n"
            "KORVA_CORR [Information] : Cor-File Directory = .\n"
            "KORVA_CORR [Information] : Multi-Thread       = 08\n");
}

TEST(InfoLines, TerminalRateIsWholeMegasamplesAndFieldsAreWidened) {
  run_settings settings;
  terminal_info terminal{};
  std::memcpy(terminal.name, "FULL_WIDTH_NAME_", 16);  // no NUL: printed within the field
  terminal.sample_rate = 16999999;                     // integer division by 1,000,000
  terminal.bits = 1;
  terminal.channels = 16;
  settings.thread_count = 1;
  const std::string text = printed(print_start_lines, settings, terminal);
  EXPECT_NE(text.find("Terminal           = FULL_WIDTH_NAME_ 0016Msps/1bit/16ch\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Schedule-File      = \n"), std::string::npos);
  EXPECT_NE(text.find("Multi-Thread       = 01\n"), std::string::npos);
}

TEST(InfoLines, ProcessLinesInUtcWithMicroseconds) {
  const timeval at{1207828800, 5};  // 2008-04-10 12:00:00 UTC, day 101
  EXPECT_EQ(printed_by([&](std::FILE* f) { print_process_started(f, 1, at); }),
            "KORVA_CORR [Information] : Process[0001] Started  2008/101 12:00:00.000005\n");
  const timeval later{1230767999, 999999};  // last second of 2008, day 366
  EXPECT_EQ(printed_by([&](std::FILE* f) { print_process_finished(f, 1000, later); }),
            "KORVA_CORR [Information] : Process[1000] Finished 2008/366 23:59:59.999999\n");
  EXPECT_EQ(printed_by([](std::FILE* f) { print_correlation_finished(f); }),
            "KORVA_CORR [Information] : Correlation Finished\n");
}

TEST(InfoLines, WallClockIgnoresTheLocalTimeZone) {
  setenv("TZ", "America/New_York", 1);
  tzset();
  char text[32];
  format_wall_clock(timeval{0, 0}, text);
  EXPECT_STREQ(text, "1970/001 00:00:00");
  unsetenv("TZ");
  tzset();
}

// Seconds 0, 1, 2 | 5 | 7, 8 | 10 | 12 | 14 of 2020/001 as runs, the first four listed.
TEST(InfoLines, MissingDataListsRunsOfSecondsAndTheShareOfSegments) {
  constexpr int32_t day = 1577836800;  // 2020/001 00:00:00
  data_coverage coverage;
  for (int32_t t : {0, 1, 2, 5, 7, 8, 10, 12, 14}) {
    coverage.add(3, day + t, 40, 10);
    coverage.add(3, day + t, 40, 0);  // a second stream of the same second adds no second
  }
  coverage.add(3, day + 15, 80, 0);
  ASSERT_EQ(coverage.station[3].missing_seconds.size(), 9u);
  const station_info station{"DELTA", 0, 0, 0};
  EXPECT_EQ(printed_by([&](std::FILE* f) { print_missing_data(f, 12, station, coverage.station[3], 16); }),
            "korva_corr : Warning: Process[0012] station[DELTA]: raw data missing in 9 of 16 seconds "
            "(2020/001 00:00:00 - 00:00:02, 2020/001 00:00:05, 2020/001 00:00:07 - 00:00:08, 2020/001 00:00:10 "
            "and 2 more); 11.2% of its segments are zeros\n");
  EXPECT_EQ(printed_by([&](std::FILE* f) { print_missing_data(f, 1, station, coverage.station[0], 16); }), "");
  coverage.clear();
  EXPECT_TRUE(coverage.station[3].missing_seconds.empty());
}

}  // namespace
}  // namespace korva
