// The line handlers: stored fields, field widths and every message.
#include <erfa.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "schedule.h"
#include "schedule_fixture.h"

namespace korva {
namespace {

using testing::zeroed_tables;

std::string field(const char* data, std::size_t width) { return std::string(data, strnlen(data, width)); }

class LineHandlers : public ::testing::Test {
 protected:
  std::unique_ptr<schedule_tables> tables = zeroed_tables();
  message_buffer message;
  std::string text() const { return message.text; }
};

// ---- $Station ---------------------------------------------------------------

TEST_F(LineHandlers, StationWithClockPart) {
  const char* line = "$Station A ALPHA -3.9e6 3.3e6 3.7e6 2008/101 00:00:00 1.2e-7 3.0e-13 0 0 5e-30";
  ASSERT_EQ(append_station(*tables, line, message), 1);
  EXPECT_EQ(text(), std::string("append_station: Station-information[") + line + "] Reading Success");
  EXPECT_EQ(field(tables->codes[0].code, 4), "A");
  EXPECT_EQ(field(tables->stations[0].name, 16), "ALPHA");
  EXPECT_EQ(tables->stations[0].x, -3.9e6);
  EXPECT_EQ(tables->stations[0].y, 3.3e6);
  EXPECT_EQ(tables->stations[0].z, 3.7e6);
  EXPECT_EQ(tables->clocks[0].epoch, 1207785600);  // 2008-04-10 00:00:00 UTC
  EXPECT_EQ(tables->clocks[0].zero, 0);
  EXPECT_EQ(tables->clocks[0].clock[0], 1.2e-7);
  EXPECT_EQ(tables->clocks[0].clock[1], 3.0e-13);
  EXPECT_EQ(tables->clocks[0].clock[4], 5e-30);
}

TEST_F(LineHandlers, StationWithoutClockLeavesTheClockAsItWas) {
  tables->clocks[1].epoch = 42;
  tables->clocks[1].clock[2] = 9.0;
  ASSERT_EQ(append_station(*tables, "$Station A ALPHA 1 2 3", message), 1);
  ASSERT_EQ(append_station(*tables, "$Station B BRAVO 4 5 6", message), 1);
  EXPECT_EQ(field(tables->stations[1].name, 16), "BRAVO");
  EXPECT_EQ(tables->clocks[1].epoch, 42);
  EXPECT_EQ(tables->clocks[1].clock[2], 9.0);
  EXPECT_EQ(tables->clocks[0].epoch, 0);
  EXPECT_EQ(station_count(*tables), 2);
}

TEST_F(LineHandlers, StationClockCoefficientsMissingAtTheEndKeepTheirValues) {
  tables->clocks[0].clock[3] = 7.0;
  tables->clocks[0].clock[4] = 8.0;
  ASSERT_EQ(append_station(*tables, "$Station A ALPHA 1 2 3 2008/101 00:00:00 1 2 3", message), 1);
  EXPECT_EQ(tables->clocks[0].clock[2], 3.0);
  EXPECT_EQ(tables->clocks[0].clock[3], 7.0);
  EXPECT_EQ(tables->clocks[0].clock[4], 8.0);
}

TEST_F(LineHandlers, StationSyntaxErrors) {
  for (const char* line : {"$Station A ALPHA 1 2",               // four words
                           "$Station ABCD ALPHA 1 2 3",           // code over 3 characters
                           "$Station A SIXTEEN_CHARS_XX 1 2 3",   // name over 15 characters
                           "$Station A ALPHA 1 2 3abc",           // a number that is no number
                           "$Station A ALPHA x 2 3",
                           "$Station A ALPHA 1 2 3 2008-101 00:00:00 1",  // a date that is no date
                           "$Station A ALPHA 1 2 3 2008/101",             // date without time
                           "$Station A ALPHA 1 2 3 2008/101 00:00:00 1e-7 zz",
                           "$Statio A ALPHA 1 2 3"}) {
    EXPECT_EQ(append_station(*tables, line, message), -1) << line;
    EXPECT_EQ(text(), std::string("append_station: Syntax Error in station-info [") + line + "]");
  }
  EXPECT_EQ(station_count(*tables), 0);  // nothing of a failed line is stored
}

TEST_F(LineHandlers, StationFieldsOfFullLength) {
  ASSERT_EQ(append_station(*tables, "$Station ABC FIFTEEN_CHARS_X 1 2 3", message), 1);
  EXPECT_EQ(std::string(tables->codes[0].code), "ABC");
  EXPECT_EQ(std::string(tables->stations[0].name), "FIFTEEN_CHARS_X");
}

// ---- $Source ----------------------------------------------------------------

// ERFA's sexagesimal conversions are the oracle.
double erfa_ra(int h, int m, double s) {
  double rad = 0;
  eraTf2a('+', h, m, s, &rad);
  return rad;
}
double erfa_dec(char sign, int d, int m, double s) {
  double rad = 0;
  eraAf2a(sign, d, m, s, &rad);
  return rad;
}

TEST_F(LineHandlers, SourceAnglesAgreeWithErfa) {
  const char* line = "$Source 3C273 12h29m06.6997s +02d03'08.598";
  ASSERT_EQ(append_source(*tables, line, message), 1);
  EXPECT_EQ(text(), std::string("append_source: Source-information[") + line + "] Reading Success");
  EXPECT_EQ(field(tables->sources[0].name, 16), "3C273");
  EXPECT_NEAR(tables->sources[0].ra, erfa_ra(12, 29, 6.6997), 2e-16);
  EXPECT_NEAR(tables->sources[0].dec, erfa_dec('+', 2, 3, 8.598), 2e-16);
  ASSERT_EQ(append_source(*tables, "$Source S2 23h59m59.999 -89d59'59.99", message), 1);
  EXPECT_NEAR(tables->sources[1].ra, erfa_ra(23, 59, 59.999), 1e-15);
  EXPECT_NEAR(tables->sources[1].dec, erfa_dec('-', 89, 59, 59.99), 1e-15);
}

TEST_F(LineHandlers, DeclinationWithoutSignTakesItsFirstDigitAsTheSign) {
  ASSERT_EQ(append_source(*tables, "$Source S 01h00m00.0 35d00'00.0", message), 1);
  EXPECT_NEAR(tables->sources[0].dec, erfa_dec('-', 5, 0, 0.0), 1e-16);
}

TEST_F(LineHandlers, SourceSyntaxErrors) {
  for (const char* line : {"$Source S 12h29m06.6997",               // no declination
                           "$Source S 12h29m +02d03'08.598",         // no seconds
                           "$Source S 12:29:06.6 +02d03'08.598",     // other notation
                           "$Source S 12h29m06.6 +02d03m08.598",
                           "$Source SIXTEEN_CHARS_XX 12h29m06.6 +02d03'08.598"}) {
    EXPECT_EQ(append_source(*tables, line, message), -1) << line;
    EXPECT_EQ(text(), std::string("append_source: Syntax Error in source-info [") + line + "]");
  }
  EXPECT_EQ(tables->sources[0].name[0], '\0');
}

// ---- $Process ---------------------------------------------------------------

TEST_F(LineHandlers, ProcessStored) {
  const char* line = "$Process 2008/101 12:00:00 60 SRC1 AB";
  ASSERT_EQ(append_process(*tables, line, message), 1);
  EXPECT_EQ(text(), std::string("append_process: Process-information[") + line + "] Reading Success");
  EXPECT_EQ(tables->processes[0].epoch, 1207828800);
  EXPECT_EQ(tables->processes[0].length, 60);
  EXPECT_EQ(field(tables->processes[0].source, 16), "SRC1");
  EXPECT_EQ(field(tables->processes[0].stations, 64), "AB");
}

TEST_F(LineHandlers, ProcessFullWidthFields) {
  const std::string source16(16, 'Q'), stations64(64, 'K');
  const std::string line = "$Process 2008/101 12:00:00 0 " + source16 + " " + stations64;
  ASSERT_EQ(append_process(*tables, line.c_str(), message), 1);
  EXPECT_EQ(std::string(tables->processes[0].source, 16), source16);
  EXPECT_EQ(std::string(tables->processes[0].stations, 64), stations64);
  EXPECT_EQ(tables->processes[0].length, 0);
}

TEST_F(LineHandlers, ProcessLengthMessages) {
  const std::string long_source = "$Process 2008/101 12:00:00 60 " + std::string(17, 'Q') + " AB";
  EXPECT_EQ(append_process(*tables, long_source.c_str(), message), -1);
  EXPECT_EQ(text(), "append_process: Length of the 4th term [" + long_source + "] is over than 16");
  // Epoch and length were stored before the failing word.
  EXPECT_EQ(tables->processes[0].epoch, 1207828800);
  EXPECT_EQ(tables->processes[0].length, 60);

  tables = zeroed_tables();
  const std::string long_stations = "$Process 2008/101 12:00:00 60 SRC " + std::string(65, 'K');
  EXPECT_EQ(append_process(*tables, long_stations.c_str(), message), -1);
  EXPECT_EQ(text(), "append_process: Length of the 5th term [" + long_stations + "] is over than 64");
}

TEST_F(LineHandlers, ProcessSyntaxErrors) {
  for (const char* line : {"$Process 2008/101 12:00:00 60 SRC1 AB extra",  // seventh word
                           "$Process 2008/101 12:00:00 60 SRC1",           // five words
                           "$Process 2008/101 12:00 60 SRC1 AB",           // a time that is no time
                           "$Process 2008/400 12:00:00 60 SRC1 AB",        // no such day
                           "$Process 2008/101 12:00:00 6O SRC1 AB",        // a length that is no number
                           "$Process 2008/101 12:00:00 -1 SRC1 AB"}) {
    EXPECT_EQ(append_process(*tables, line, message), -1) << line;
    EXPECT_EQ(text(), std::string("append_process: Syntax Error in process-info [") + line + "]");
  }
  EXPECT_EQ(tables->processes[0].epoch, 0);
}

// ---- $Stream ----------------------------------------------------------------

TEST_F(LineHandlers, StreamStored) {
  const char* line = "$Stream CH1 SRC1 8.192e9 1 1024 10";
  ASSERT_EQ(append_stream(*tables, line, message), 1);
  EXPECT_EQ(text(), std::string("append_stream: Stream-information[") + line + "] Reading Success");
  const stream_info& s = tables->streams[0];
  EXPECT_EQ(field(s.name, 16), "CH1");
  EXPECT_EQ(field(s.source, 16), "SRC1");
  EXPECT_EQ(s.frequency, 8.192e9);
  EXPECT_EQ(s.channel, 1);
  EXPECT_EQ(s.fft_points, 1024);
  EXPECT_EQ(s.pp_per_second, 10);
  EXPECT_EQ(stream_count(*tables), 1);
}

TEST_F(LineHandlers, StreamFullWidthNamesAndLargestFft) {
  const std::string name16(16, 'N'), source16(16, 'S');
  const std::string line = "$Stream " + name16 + " " + source16 + " 8e9 1 65536 1";
  ASSERT_EQ(append_stream(*tables, line.c_str(), message), 1);
  EXPECT_EQ(std::string(tables->streams[0].name, 16), name16);
  EXPECT_EQ(std::string(tables->streams[0].source, 16), source16);
  EXPECT_EQ(tables->streams[0].fft_points, 65536);
}

TEST_F(LineHandlers, StreamMessages) {
  const std::string long_name = "$Stream " + std::string(17, 'N') + " SRC 8e9 1 1024 10";
  EXPECT_EQ(append_stream(*tables, long_name.c_str(), message), -1);
  EXPECT_EQ(text(), "append_stream: Length of the 2th term [" + long_name + "] is over than 16");

  tables = zeroed_tables();
  const std::string long_source = "$Stream CH " + std::string(17, 'S') + " 8e9 1 1024 10";
  EXPECT_EQ(append_stream(*tables, long_source.c_str(), message), -1);
  EXPECT_EQ(text(), "append_stream: Length of the 3th term [" + long_source + "] is over than 16");

  tables = zeroed_tables();
  EXPECT_EQ(append_stream(*tables, "$Stream CH SRC 8e9 1 65537 10", message), -1);
  EXPECT_EQ(text(), "append_stream: Number of the FFT-Point[65537] is larger than [65536]");

  for (const char* line : {"$Stream CH SRC 8e9 1 1024", "$Stream CH SRC 8e9 1 1024 10 x",
                           "$Stream CH SRC 8GHz 1 1024 10", "$Stream CH SRC 8e9 1.5 1024 10",
                           "$Stream CH SRC 8e9 1 1k 10", "$Stream CH SRC 8e9 1 1024 ten"}) {
    tables = zeroed_tables();
    EXPECT_EQ(append_stream(*tables, line, message), -1) << line;
    // The stream syntax message carries the process handler's name.
    EXPECT_EQ(text(), std::string("append_process: Syntax Error in stream-info [") + line + "]");
  }
}

TEST_F(LineHandlers, FullTablesRefuseFurtherRecords) {
  for (int i = 0; i < max_stations; ++i) std::snprintf(tables->stations[i].name, 16, "S%d", i);
  EXPECT_EQ(append_station(*tables, "$Station Z ZULU 1 2 3", message), -1);
  EXPECT_EQ(text(), "append_station: No room for station-info [$Station Z ZULU 1 2 3]");
  for (int i = 0; i < max_streams; ++i) std::snprintf(tables->streams[i].name, 16, "C%d", i);
  EXPECT_EQ(append_stream(*tables, "$Stream CH SRC 8e9 1 1024 10", message), -1);
}

}  // namespace
}  // namespace korva
