// korva_read_schedule: whole files, capacities, long lines and the checks of
// the terminal mode and the streams.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "schedule.h"
#include "schedule_fixture.h"

namespace korva {
namespace {

using testing::temporary_folder;
using testing::zeroed_tables;

const std::string example_schedule =
    "# A comment line\n"
    "$Terminal MODEA 1024Msps/2bit/1ch\n"
    "$Station A ALPHA -3.9e6 3.3e6 3.7e6 2008/101 00:00:00 1.2e-7 3.0e-13 0 0 0\n"
    "$Station B BRAVO -3.5e6 3.9e6 3.6e6\n"
    "\n"
    "$Source SRC1 12h29m06.6997 +02d03'08.598\n"
    "$Stream CH1 SRC1 8.192e9 1 1024 10\n"
    "$Process 2008/101 12:00:00 60 SRC1 AB\n"
    "other text is ignored\n";

class ScheduleReader : public ::testing::Test {
 protected:
  temporary_folder folder;
  std::unique_ptr<schedule_tables> tables = zeroed_tables();
  message_buffer message;

  int32_t read(const std::string& text) {
    folder.write("schedule.txt", text);
    return korva_read_schedule(*tables, path.c_str(), message);
  }
  // Expects a refusal whose message is exactly expected.
  void expect_refused(const std::string& text, const std::string& expected) {
    EXPECT_EQ(read(text), -1);
    EXPECT_EQ(std::string(message.text), expected);
  }
  const std::string path = (folder.path() / "schedule.txt").string();
};

TEST_F(ScheduleReader, ReadsTheExampleSchedule) {
  ASSERT_EQ(read(example_schedule), 1);
  EXPECT_EQ(std::string(message.text), "korva_read_schedule: Schedule_File[" + path + "] Reading Success");
  EXPECT_EQ(std::string(tables->terminal.name), "MODEA");
  EXPECT_EQ(tables->terminal.sample_rate, 1024000000);
  EXPECT_EQ(tables->terminal.bits, 2);
  EXPECT_EQ(tables->terminal.channels, 1);
  EXPECT_EQ(station_count(*tables), 2);
  EXPECT_EQ(stream_count(*tables), 1);
  EXPECT_EQ(std::string(tables->sources[0].name), "SRC1");
  EXPECT_EQ(tables->processes[0].length, 60);
  EXPECT_EQ(tables->processes[1].epoch, 0);
  EXPECT_EQ(tables->clocks[0].clock[0], 1.2e-7);
}

TEST_F(ScheduleReader, MissingFile) {
  EXPECT_EQ(korva_read_schedule(*tables, "/nonexistent/schedule", message), -1);
  EXPECT_EQ(std::string(message.text), "korva_read_schedule: Can't open the schedule-file[/nonexistent/schedule]");
  EXPECT_EQ(korva_read_schedule(*tables, "", message), -1);
  EXPECT_EQ(std::string(message.text), "korva_read_schedule: Can't open the schedule-file[]");
}

TEST_F(ScheduleReader, OnlyCommentsLeaveEveryTableEmpty) {
  // The reader clears the tables it fills.
  std::snprintf(tables->stations[3].name, 16, "OLD");
  tables->processes[0].epoch = 5;
  std::snprintf(tables->streams[0].name, 16, "OLD");
  ASSERT_EQ(read("# nothing\n\n   \n* more\n"), 1);
  EXPECT_EQ(station_count(*tables), 0);
  EXPECT_EQ(tables->stations[3].name[0], '\0');
  EXPECT_EQ(tables->processes[0].epoch, 0);
  EXPECT_EQ(stream_count(*tables), 0);
}

TEST_F(ScheduleReader, HandlerFailureStopsAtThatLine) {
  const std::string bad = "$Station A ALPHA 1 2";
  expect_refused(example_schedule + bad + "\n$Station C CHARLIE 1 2 3\n",
                 "append_station: Syntax Error in station-info [" + bad + "]");
  EXPECT_EQ(station_count(*tables), 2);  // records before the failing line stay
}

TEST_F(ScheduleReader, KeywordMayRunIntoTheFirstWord) {
  ASSERT_EQ(read("$StationA ALPHA 1 2 3\n"), 1);
  EXPECT_EQ(std::string(tables->codes[0].code), "A");
  EXPECT_EQ(std::string(tables->stations[0].name), "ALPHA");
}

TEST_F(ScheduleReader, EleventhStationIsSkipped) {
  std::string text;
  for (int i = 0; i < 11; ++i) text += "$Station S" + std::to_string(i) + " NAME" + std::to_string(i) + " 1 2 3\n";
  text += "$Station bad-but-skipped\n";
  ASSERT_EQ(read(text), 1) << message.text;
  EXPECT_EQ(station_count(*tables), 10);
  EXPECT_EQ(std::string(tables->stations[9].name), "NAME9");
}

TEST_F(ScheduleReader, SourceAndProcessTablesHoldAThousand) {
  std::string text = "$Terminal T 16Msps/2bit/1ch\n$Station A ALPHA 1 2 3\n";
  for (int i = 0; i < 1001; ++i) text += "$Source S" + std::to_string(i) + " 01h00m00.0 +10d00'00.0\n";
  for (int i = 0; i < 1001; ++i) text += "$Process 2020/001 00:00:00 " + std::to_string(i) + " S0 A\n";
  text += "$Process no-syntax-checked-past-capacity\n$Source skipped\n";
  ASSERT_EQ(read(text), 1) << message.text;
  EXPECT_EQ(std::string(tables->sources[999].name), "S999");
  EXPECT_EQ(tables->processes[999].length, 999);
}

TEST_F(ScheduleReader, SixtyFifthStreamIsSkipped) {
  std::string text = "$Terminal T 16Msps/2bit/1ch\n";
  for (int i = 0; i < 65; ++i) text += "$Stream C" + std::to_string(i) + " SRC 8e9 1 1024 10\n";
  text += "$Stream x\n";
  ASSERT_EQ(read(text), 1) << message.text;
  EXPECT_EQ(stream_count(*tables), 64);
  EXPECT_EQ(std::string(tables->streams[63].name), "C63");
}

TEST_F(ScheduleReader, LongLinesAreReadInPartsOf255) {
  // The second part of the long line begins with a keyword and is read as a line.
  const std::string head = "# " + std::string(253, 'x');  // 255 characters
  ASSERT_EQ(head.size(), 255u);
  ASSERT_EQ(read(head + "$Station P PART 1 2 3\n"), 1) << message.text;
  EXPECT_EQ(std::string(tables->stations[0].name), "PART");

  // A station line whose tail falls into the next part fails with its first
  // 255 characters quoted.
  const std::string line = "$Station A ALPHA 1 2" + std::string(240, ' ') + "3";
  expect_refused(line + "\n", "append_station: Syntax Error in station-info [" + line.substr(0, 255) + "]");
}

TEST_F(ScheduleReader, TerminalLines) {
  ASSERT_EQ(read("$Terminal FIRST 512Msps/1bit/2ch\n$Terminal SECOND 32Msps/2bit/4ch trailing\n"), 1);
  EXPECT_EQ(std::string(tables->terminal.name), "SECOND");  // the last line wins
  EXPECT_EQ(tables->terminal.sample_rate, 32000000);
  EXPECT_EQ(tables->terminal.channels, 4);
  ASSERT_EQ(read("$Terminal FIFTEEN_CHARS_X 1Msps/1bit/1ch\n"), 1);
  EXPECT_EQ(std::string(tables->terminal.name), "FIFTEEN_CHARS_X");

  for (const std::string line : {"$Terminal SIXTEEN_CHARS_XX 1Msps/1bit/1ch", "$Terminal MODEA",
                                 "$Terminal MODEA 1024Msps/2bit", "$Terminal MODEA 10x24Msps/2bit/1ch"}) {
    expect_refused(line + "\n", "korva_read_schedule: Syntax Error in terminal-info [" + line + "]");
  }
}

// ---- checks made after the whole file --------------------------------------

const std::string process_line = "$Station A ALPHA 1 2 3\n$Process 2020/001 00:00:00 2 SRC AB\n";

TEST_F(ScheduleReader, ProcessesNeedATerminal) {
  expect_refused(process_line, "korva_read_schedule: No terminal-info in the schedule-file[" + path + "]");
}

TEST_F(ScheduleReader, TerminalModeWithoutDecoderIsRefused) {
  for (const std::string mode : {"16Msps/3bit/1ch", "16Msps/2bit/3ch", "16Msps/0bit/1ch", "16Msps/1bit/32ch"}) {
    const std::string line = "$Terminal T " + mode;
    int bits = 0, channels = 0;
    std::sscanf(mode.c_str(), "16Msps/%dbit/%dch", &bits, &channels);
    expect_refused(process_line + line + "\n",
                   "korva_read_schedule: No sample decoder for " + std::to_string(bits) + "bit/" +
                       std::to_string(channels) + "ch in terminal-info [" + line + "]");
  }
  // A schedule with nothing to correlate needs no usable terminal.
  EXPECT_EQ(read("$Terminal T 16Msps/3bit/1ch\n"), 1);
}

TEST_F(ScheduleReader, BitRateMustStayBelowTwoToThe32) {
  // 2^32 is 4,294,967,296: 1024 Msps x 2 x 2 and 2147 Msps x 2 x 1 stay below it.
  EXPECT_EQ(read(process_line + "$Terminal T 1024Msps/2bit/2ch\n"), 1) << message.text;
  EXPECT_EQ(read(process_line + "$Terminal T 2147Msps/2bit/1ch\n"), 1) << message.text;
  const std::string over = "$Terminal T 1100Msps/2bit/2ch";
  expect_refused(process_line + over + "\n",
                 "korva_read_schedule: Bit rate[4400000000] of terminal-info [" + over + "] is not below 2^32");
  const std::string huge = "$Terminal T 2148Msps/1bit/1ch";
  expect_refused(process_line + huge + "\n",
                 "korva_read_schedule: Sample rate in terminal-info [" + huge + "] is over than 2147Msps");
  const std::string zero = "$Terminal T 0Msps/1bit/1ch";
  expect_refused(process_line + zero + "\n",
                 "korva_read_schedule: Sample rate in terminal-info [" + zero + "] is not positive");
}

TEST_F(ScheduleReader, StreamChannelMustBeATerminalChannel) {
  const std::string terminal = "$Terminal T 16Msps/2bit/4ch\n";
  EXPECT_EQ(read(terminal + "$Stream C SRC 8e9 4 1024 10\n"), 1) << message.text;
  for (const std::string channel : {"0", "5", "-1"}) {
    const std::string line = "$Stream C SRC 8e9 " + channel + " 1024 10";
    // Streams are checked after the file, whatever the order of the lines.
    expect_refused(line + "\n" + terminal,
                   "korva_read_schedule: Channel[" + channel + "] of stream-info [" + line + "] is outside 1..4");
  }
}

TEST_F(ScheduleReader, FftPointsMustFillWholeWordsAndBinPairs) {
  struct mode_case {
    const char* mode;
    int step;  // the larger of 4 and the samples per word
  };
  for (const mode_case c : {mode_case{"16Msps/1bit/1ch", 32}, mode_case{"16Msps/2bit/1ch", 16},
                            mode_case{"16Msps/2bit/2ch", 8}, mode_case{"16Msps/2bit/4ch", 4},
                            mode_case{"16Msps/2bit/16ch", 4}}) {
    const std::string terminal = std::string("$Terminal T ") + c.mode + "\n";
    EXPECT_EQ(read(terminal + "$Stream C SRC 8e9 1 " + std::to_string(c.step * 3) + " 10\n"), 1) << c.mode;
    for (int points : {c.step * 3 + c.step / 2, c.step / 2, 0, -c.step}) {
      const std::string line = "$Stream C SRC 8e9 1 " + std::to_string(points) + " 10";
      expect_refused(terminal + line + "\n", "korva_read_schedule: Number of the FFT-Point[" +
                                                 std::to_string(points) + "] of stream-info [" + line +
                                                 "] is not a positive multiple of " + std::to_string(c.step));
    }
  }
}

}  // namespace
}  // namespace korva
