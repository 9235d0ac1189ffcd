// "$EOP" lines: the handler's parsing and refusals, the table's capacity, and
// the reader's check that the lines cover every correlated second.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "schedule.h"
#include "schedule_fixture.h"

namespace korva {
namespace {

using testing::temporary_folder;
using testing::zeroed_tables;

constexpr int32_t day_2024_099 = 1712534400;  // 2024-04-08 00:00:00 UTC

const std::string header =
    "$Terminal MODEA 16Msps/2bit/1ch\n"
    "$Station A ALPHA -3.9e6 3.3e6 3.7e6\n"
    "$Source SRC1 12h29m06.6997 +02d03'08.598\n"
    "$Stream CH1 SRC1 8.192e9 1 1024 10\n";

// Daily lines from 2024/first_day to 2024/last_day.
std::string daily_lines(int first_day, int last_day) {
  std::string text;
  for (int d = first_day; d <= last_day; ++d) {
    char line[96];
    std::snprintf(line, sizeof line, "$EOP 2024/%03d 00:00:00 -0.01%02d 0.0%02d 0.35\n", d % 1000, d % 100, d % 100);
    text += line;
  }
  return text;
}

class EopLines : public ::testing::Test {
 protected:
  std::unique_ptr<schedule_tables> tables = zeroed_tables();
  message_buffer message;

  int32_t append(const std::string& line) { return append_eop(*tables, line.c_str(), message); }
  void expect_refused(const std::string& line, const std::string& expected) {
    EXPECT_EQ(append(line), -1) << line;
    EXPECT_EQ(std::string(message.text), expected);
  }
};

TEST_F(EopLines, StoresEpochAndValuesInOrder) {
  ASSERT_EQ(append("$EOP 2024/099 00:00:00 -0.0158724 -0.009114 0.356398"), 1);
  EXPECT_EQ(std::string(message.text),
            "append_eop: EOP-information[$EOP 2024/099 00:00:00 -0.0158724 -0.009114 0.356398] Reading Success");
  ASSERT_EQ(append("$EOP\t2024/099 12:00:00  -1.6e-2 -9.2e-3 0.3577 "), 1);
  EXPECT_EQ(tables->eop[0].epoch, day_2024_099);
  EXPECT_EQ(tables->eop[0].ut1_minus_utc, -0.0158724);
  EXPECT_EQ(tables->eop[0].x_p, -0.009114);
  EXPECT_EQ(tables->eop[0].y_p, 0.356398);
  EXPECT_EQ(tables->eop[1].epoch, day_2024_099 + 43200);
  EXPECT_EQ(tables->eop[1].zero, 0);
  EXPECT_EQ(eop_record_count(tables->eop), 2);
}

TEST_F(EopLines, RefusesUnparsableLinesNamingThem) {
  for (const std::string line :
       {"$EOP 2024/099 00:00:00 -0.01 0.1", "$EOP 2024/099 00:00:00 -0.01 0.1 0.3 7", "$EOP 2024/099 00:00 -0.01 0.1 0.3",
        "$EOP 2024/367 00:00:00 -0.01 0.1 0.3", "$EOP 2024/099 00:00:00 -0.01s 0.1 0.3",
        "$EOP 2024/099 00:00:00 -0.01 nan 0.3", "$EOP 2024/099 00:00:00 -0.01 0.1 0x1", "$EOP"}) {
    expect_refused(line, "append_eop: Syntax Error in eop-info [" + line + "]");
  }
  EXPECT_EQ(eop_record_count(tables->eop), 0);
}

TEST_F(EopLines, RefusesValuesInTheWrongUnitsAndDatesBeforeTheLeapSecondTable) {
  for (const std::string line : {"$EOP 2024/099 00:00:00 -15.8 -0.009 0.35", "$EOP 2024/099 00:00:00 -0.0158 -9.1 0.35",
                                 "$EOP 2024/099 00:00:00 -0.0158 -0.009 356.4"}) {
    expect_refused(line, "append_eop: UT1-UTC (s) or pole coordinates (arcsec) of eop-info [" + line +
                             "] are not within +-1");
  }
  expect_refused("$EOP 1971/365 00:00:00 0.1 0.1 0.3",
                 "append_eop: Epoch of eop-info [$EOP 1971/365 00:00:00 0.1 0.1 0.3] is before 1972/001, where the "
                 "leap-second table begins");
  EXPECT_EQ(append("$EOP 1972/001 00:00:00 0.1 0.1 0.3"), 1);
}

TEST_F(EopLines, RefusesLinesOutOfOrderOrRepeated) {
  ASSERT_EQ(append("$EOP 2024/100 00:00:00 -0.0167 -0.009 0.358"), 1);
  for (const std::string line : {"$EOP 2024/100 00:00:00 -0.0167 -0.009 0.358", "$EOP 2024/099 23:59:59 -0.0167 -0.009 0.358"}) {
    expect_refused(line, "append_eop: Epoch of eop-info [" + line + "] is not later than that of the line before");
  }
  EXPECT_EQ(eop_record_count(tables->eop), 1);
}

TEST_F(EopLines, TheLineBeyondTheCapacityIsRefusedNotSkipped) {
  for (int i = 0; i < max_eop_records; ++i) {
    char line[96];
    std::snprintf(line, sizeof line, "$EOP 2024/%03d 00:00:00 -0.01 0.01 0.35", i + 1);
    ASSERT_EQ(append(line), 1) << message.text;
  }
  const std::string extra = "$EOP 2024/200 00:00:00 -0.01 0.01 0.35";
  expect_refused(extra, "append_eop: Number of eop-info lines is over than 100 [" + extra + "]");
}

class EopSchedule : public ::testing::Test {
 protected:
  temporary_folder folder;
  std::unique_ptr<schedule_tables> tables = zeroed_tables();
  message_buffer message;
  const std::string path = (folder.path() / "schedule.txt").string();

  int32_t read(const std::string& text) {
    folder.write("schedule.txt", text);
    return korva_read_schedule(*tables, path.c_str(), message);
  }
};

TEST_F(EopSchedule, LinesCoveringEveryProcessAreRead) {
  // Days 99..102: the span with a point on either side is 100 00:00 .. 101 00:00.
  ASSERT_EQ(read(header + daily_lines(99, 102) + "$Process 2024/100 03:00:00 60 SRC1 A\n" +
                 "$Process 2024/100 23:59:00 60 SRC1 A\n"),
            1)
      << message.text;
  EXPECT_EQ(eop_record_count(tables->eop), 4);
  // A second read of another schedule starts from an empty table.
  ASSERT_EQ(read(header + "$Process 2024/100 03:00:00 60 SRC1 A\n"), 1);
  EXPECT_EQ(eop_record_count(tables->eop), 0);
}

TEST_F(EopSchedule, ASecondOutsideTheCoveredSpanIsRefusedBeforeAnythingIsCorrelated) {
  const std::string span = "2024/100 00:00:00 .. 2024/101 00:00:00";
  EXPECT_EQ(read(header + daily_lines(99, 102) + "$Process 2024/100 03:00:00 60 SRC1 A\n" +
                 "$Process 2024/100 23:59:02 60 SRC1 A\n"),
            -1);
  EXPECT_EQ(std::string(message.text), "korva_read_schedule: Second 2024/101 00:00:01 of process 2 is outside " + span +
                                           ", the span the eop-info lines cover with a point on either side");
  EXPECT_EQ(read(header + daily_lines(99, 102) + "$Process 2024/099 23:59:59 5 SRC1 A\n"), -1);
  EXPECT_EQ(std::string(message.text), "korva_read_schedule: Second 2024/099 23:59:59 of process 1 is outside " + span +
                                           ", the span the eop-info lines cover with a point on either side");
  EXPECT_EQ(read(header + daily_lines(99, 101) + "$Process 2024/100 03:00:00 60 SRC1 A\n"), -1);
  EXPECT_EQ(std::string(message.text),
            "korva_read_schedule: 3 eop-info line(s) cannot be interpolated: 4-point interpolation needs at least 4");
}

TEST_F(EopSchedule, AFailingLineEndsTheReadingWithItsMessage) {
  EXPECT_EQ(read(header + daily_lines(99, 102) + "$EOP 2024/101 00:00:00 0 0 0\n"), -1);
  EXPECT_EQ(std::string(message.text),
            "append_eop: Epoch of eop-info [$EOP 2024/101 00:00:00 0 0 0] is not later than that of the line before");
}

}  // namespace
}  // namespace korva
