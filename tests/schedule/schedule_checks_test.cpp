// Refusals of schedules that could not be correlated as written or would lose
// output: process spans that 32-bit epochs cannot walk, record counts, source
// positions, names that would leave a directory, processes without stations
// or sources, output files written twice; unreadable files; and the warnings
// about streams.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "schedule.h"
#include "schedule_fixture.h"

namespace korva {
namespace {

using testing::temporary_folder;
using testing::zeroed_tables;

const std::string head =
    "$Terminal TEST 1Msps/2bit/1ch\n"
    "$Station A ALPHA 1 2 3\n"
    "$Station B BRAVO 4 5 6\n"
    "$Station C CHARLIE 7 8 9\n"
    "$Source SRC 12h29m06.6997 +02d03'08.598\n"
    "$Stream CH1 SRC 8.192e9 1 1024 10\n";

class ScheduleChecks : public ::testing::Test {
 protected:
  temporary_folder folder;
  std::unique_ptr<schedule_tables> tables = zeroed_tables();
  message_buffer message;
  const std::string path = (folder.path() / "schedule.txt").string();

  int32_t read(const std::string& text) {
    folder.write("schedule.txt", text);
    return korva_read_schedule(*tables, path.c_str(), message);
  }
  void expect_refused(const std::string& text, const std::string& expected) {
    EXPECT_EQ(read(text), -1) << text;
    EXPECT_EQ(std::string(message.text), expected);
  }
  void expect_read(const std::string& text) { EXPECT_EQ(read(text), 1) << text << "\n" << message.text; }
};

TEST_F(ScheduleChecks, ProcessSpanMustBeWalkableIn32BitEpochs) {
  const std::string zero = "$Process 1970/001 00:00:00 2 SRC A";
  expect_refused(head + zero + "\n",
                 "append_process: Epoch 1970/001 00:00:00 of process-info [" + zero + "] would end the process table");
  for (const std::string line : {"$Process 1969/365 23:59:58 3 SRC A", "$Process 1969/365 23:59:58 2 SRC A"}) {
    expect_refused(head + line + "\n",
                   "append_process: Process-info [" + line + "] runs up to or across 1970/001 00:00:00");
  }
  const std::string late = "$Process 2038/019 03:14:06 2 SRC A";
  expect_refused(head + late + "\n", "append_process: Process-info [" + late + "] runs past 2038/019 03:14:07");
  // The last second that both starts and ends within 32 bits, and a process
  // wholly before 1970, are correlatable.
  expect_read(head + "$Process 2038/019 03:14:06 1 SRC A\n");
  expect_read(head + "$Process 1969/365 23:59:58 1 SRC A\n");
  expect_read(head + "$Process 1969/365 23:59:59 0 SRC A\n");
}

TEST_F(ScheduleChecks, ParameterPeriodsMustGiveARecordCountOf32Bits) {
  const std::string negative = "$Stream CH2 SRC 8.192e9 1 1024 -1";
  expect_refused(head + negative + "\n", "append_stream: Number of the parameter periods[-1] of stream-info [" +
                                             negative + "] is negative");
  // 2^31 - 1 records fit; one more does not.
  const std::string dense = "$Stream CH2 SRC 8.192e9 1 1024 1073741824";
  expect_read(head + "$Stream CH2 SRC 8.192e9 1 1024 2147483647\n$Process 2020/001 00:00:00 1 SRC A\n");
  const std::string process = "$Process 2020/001 00:00:00 2 SRC A";
  expect_refused(head + dense + "\n" + process + "\n", "korva_read_schedule: Record count[2147483648] of stream-info [" +
                                                           dense + "] in process-info [" + process +
                                                           "] is over than 2147483647");
}

TEST_F(ScheduleChecks, SourcePositionsMustBeFiniteAndInRange) {
  const std::string dec = "+02d03'08.598";
  for (const std::string ra : {"24h00m00.0", "12h60m00.0", "12h29m60.0", "-1h00m00.0", "12h-5m00.0", "12h29mnan",
                               "12h29minf", "12h29m-0.5"}) {
    const std::string line = "$Source BAD " + ra + " " + dec;
    expect_refused(head + line + "\n", "append_source: Right ascension[" + ra + "] of source-info [" + line +
                                           "] is outside 00h00m00 to 23h59m59.x");
  }
  for (const std::string d : {"+91d00'00.0", "+90d00'00.1", "-90d01'00.0", "+45d60'00.0", "+45d00'60.0",
                              "+45d00'nan", "-45d00'-inf", "+-5d00'00.0"}) {
    const std::string line = "$Source BAD 12h00m00.0 " + d;
    expect_refused(head + line + "\n", "append_source: Declination[" + d + "] of source-info [" + line +
                                           "] is outside -90d00'00 to +90d00'00");
  }
  expect_read("$Source EDGE 23h59m59.999 +90d00'00.0\n$Source POLE 00h00m00.0 -90d00'00\n");
  EXPECT_DOUBLE_EQ(tables->sources[1].dec, -1.5707963267948966);
}

TEST_F(ScheduleChecks, NamesThatWouldLeaveTheFileDirectoriesAreRefused) {
  const std::string station = "$Station D ../DELTA 1 2 3";
  expect_refused(station + "\n", "append_station: Name[../DELTA] of station-info [" + station + "] contains '/'");
  const std::string stream = "$Stream sub/CH SRC 8.192e9 1 1024 10";
  expect_refused(stream + "\n", "append_stream: Name[sub/CH] of stream-info [" + stream + "] contains '/'");
  expect_read("$Terminal T 1Msps/2bit/1ch\n$Station D ..DELTA 1 2 3\n$Stream ..CH SRC 8.192e9 1 1024 10\n");
}

TEST_F(ScheduleChecks, EveryProcessNeedsAStationAndASource) {
  const std::string nobody = "$Process 2020/001 00:00:00 2 SRC XY";
  // The station check covers every process, not only the first.
  expect_refused(head + "$Process 2020/001 00:00:00 2 SRC A\n" + nobody + "\n",
                 "korva_read_schedule: Stations[XY] of process-info [" + nobody + "] match no station-info");
  // The process's source, else the stream's: only when neither is known.
  expect_read(head + "$Process 2020/001 00:00:00 2 ELSEWHERE A\n");
  expect_refused(head + "$Stream CH2 NONE 8.192e9 1 1024 10\n$Process 2020/001 00:00:00 2 SRC A\n"
                        "$Process 2020/001 00:00:10 2 ELSEWHERE A\n",
                 "find_source: Not found the source-info[NONE]");
}

TEST_F(ScheduleChecks, OutputFilesWrittenTwiceAreRefused) {
  const std::string first = "$Process 2020/001 00:00:00 2 SRC AB";
  const std::string second = "$Process 2020/001 00:00:00 5 SRC BC";
  expect_refused(head + first + "\n" + second + "\n", "korva_read_schedule: Process-info [" + second +
                                                          "] would overwrite the cor-files of process-info [" +
                                                          first + "]");
  // Other stations, or another second, write other files.
  expect_read(head + first + "\n$Process 2020/001 00:00:00 5 SRC C\n$Process 2020/001 00:00:01 5 SRC AB\n");
  // Stations of one name, in one process or two, share their file names.
  const std::string twin = "$Station D ALPHA 1 2 3\n";
  const std::string both = "$Process 2020/001 00:00:00 2 SRC AD";
  expect_refused(head + twin + both + "\n", "korva_read_schedule: Process-info [" + both +
                                                "] takes two stations named [ALPHA]: their cor-files would "
                                                "overwrite each other");
  const std::string d_only = "$Process 2020/001 00:00:00 2 SRC D";
  expect_refused(head + twin + "$Process 2020/001 00:00:00 2 SRC A\n" + d_only + "\n",
                 "korva_read_schedule: Process-info [" + d_only +
                     "] would overwrite the cor-files of process-info [$Process 2020/001 00:00:00 2 SRC A]");
  // Every stream goes into every process: one name twice is one file twice.
  const std::string again = "$Stream CH1 SRC 8.2e9 1 1024 10";
  expect_refused(head + again + "\n" + first + "\n", "korva_read_schedule: Name of stream-info [" + again +
                                                         "] is used twice: its cor-files would overwrite each other");
  // Without streams a process writes no file.
  expect_read("$Terminal T 1Msps/2bit/1ch\n$Station A ALPHA 1 2 3\n" + first + "\n" + first + "\n");
}

TEST_F(ScheduleChecks, ScheduleThatCannotBeReadToItsEndFails) {
  EXPECT_EQ(korva_read_schedule(*tables, folder.path().c_str(), message), -1);
  EXPECT_EQ(std::string(message.text),
            "korva_read_schedule: Can't read the schedule-file[" + folder.path().string() + "] to its end (Is a directory)");
}

TEST_F(ScheduleChecks, StreamsWithoutRecordsOrWithSharedSamplesAreWarnedAbout) {
  const std::string process = "$Process 2020/001 00:00:00 2 SRC A\n";
  expect_read(head + process);
  EXPECT_TRUE(schedule_warnings(*tables).empty());
  // 1 Msps: 1000 periods per second of 1000 samples, shorter than 1024.
  expect_read(head + "$Stream NONE SRC 8e9 1 1024 0\n$Stream FAST SRC 8e9 1 1024 1000\n"
                     "$Stream EXACT SRC 8e9 1 1024 976\n" + process);
  const std::vector<std::string> warnings = schedule_warnings(*tables);
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_EQ(warnings[0],
            "korva_read_schedule: Warning: Stream[NONE] has 0 parameter periods per second: its cor-files get no "
            "records");
  // 1000 records of 128 + 512 x 8 bytes.
  EXPECT_EQ(warnings[1],
            "korva_read_schedule: Warning: Stream[FAST] has periods of 1000 samples, shorter than its 1024-point "
            "FFT segment: records share samples, 4224000 bytes per second of data in each cor-file");
  // Nothing is correlated without a process.
  expect_read(head + "$Stream NONE SRC 8e9 1 1024 0\n");
  EXPECT_TRUE(schedule_warnings(*tables).empty());
}

}  // namespace
}  // namespace korva
