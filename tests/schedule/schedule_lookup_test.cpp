// find_source, station_takes_part, the taking-part lists and the table counts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "schedule.h"
#include "schedule_fixture.h"

namespace korva {
namespace {

using testing::zeroed_tables;

TEST(FindSource, FindsTheFirstMatchAndWritesItsMessage) {
  auto tables = zeroed_tables();
  std::strcpy(tables->sources[0].name, "3C273");
  std::strcpy(tables->sources[1].name, "3C279");
  std::strcpy(tables->sources[2].name, "3C279");
  message_buffer message;
  EXPECT_EQ(find_source(tables->sources, "3C279", message), 1);
  EXPECT_STREQ(message.text, "find_source: Found the source-info[3C279]");
  EXPECT_EQ(find_source(tables->sources, "3C2", message), -1);
  EXPECT_STREQ(message.text, "find_source: Not found the source-info[3C2]");
  EXPECT_EQ(find_source(tables->sources, "", message), -1);  // the walk ends at the first empty name
}

TEST(FindSource, SixteenCharacterNamesMatchWithinSixteen) {
  auto tables = zeroed_tables();
  std::memcpy(tables->sources[4].name, "ABCDEFGHIJKLMNOP", 16);  // full width, no NUL
  for (int i = 0; i < 4; ++i) std::snprintf(tables->sources[i].name, 16, "S%d", i);
  // A process's source field of 16 characters carries no NUL either.
  char process_source[16];
  std::memcpy(process_source, "ABCDEFGHIJKLMNOP", 16);
  message_buffer message;
  EXPECT_EQ(find_source(tables->sources, process_source, message), 4);
  EXPECT_STREQ(message.text, "find_source: Found the source-info[ABCDEFGHIJKLMNOP]");
  // Only the first 16 characters of the wanted name count.
  EXPECT_EQ(find_source(tables->sources, "ABCDEFGHIJKLMNOPQRS", message), 4);
  EXPECT_EQ(find_source(tables->sources, "ABCDEFGHIJKLMNO", message), -1);
}

TEST(FindSource, StopsAtTheEndOfAFullTable) {
  auto tables = zeroed_tables();
  for (int i = 0; i < max_sources; ++i) std::snprintf(tables->sources[i].name, 16, "S%d", i);
  message_buffer message;
  EXPECT_EQ(find_source(tables->sources, "S999", message), 999);
  EXPECT_EQ(find_source(tables->sources, "S1000", message), -1);
}

TEST(StationTakesPart, CodesAreSubstringsOfTheStationText) {
  auto tables = zeroed_tables();
  std::strcpy(tables->codes[0].code, "K");
  std::strcpy(tables->codes[1].code, "KS");
  std::strcpy(tables->codes[2].code, "MZ");
  process_info process{};
  std::strcpy(process.stations, "KSMZ");
  EXPECT_TRUE(station_takes_part(*tables, process, 0));  // "K" is inside "KS"
  EXPECT_TRUE(station_takes_part(*tables, process, 1));
  EXPECT_TRUE(station_takes_part(*tables, process, 2));
  std::strcpy(process.stations, "MZ");
  EXPECT_FALSE(station_takes_part(*tables, process, 0));
  EXPECT_FALSE(station_takes_part(*tables, process, 3));  // empty code
  EXPECT_FALSE(station_takes_part(*tables, process, -1));
  EXPECT_FALSE(station_takes_part(*tables, process, max_stations));
}

TEST(StationTakesPart, FullWidthStationTextIsSearchedWithinItsSixtyFourCharacters) {
  // The process record is followed in memory by bytes that spell a code.
  struct {
    process_info process;
    char after[8];
  } block{};
  std::memset(block.process.stations, 'x', 64);
  block.process.stations[62] = 'A';
  block.process.stations[63] = 'B';
  std::memcpy(block.after, "CD", 3);
  auto tables = zeroed_tables();
  std::strcpy(tables->codes[0].code, "AB");
  std::strcpy(tables->codes[1].code, "BCD");
  std::strcpy(tables->codes[2].code, "B");
  EXPECT_TRUE(station_takes_part(*tables, block.process, 0));
  EXPECT_FALSE(station_takes_part(*tables, block.process, 1));
  EXPECT_TRUE(station_takes_part(*tables, block.process, 2));
}

TEST(TableCounts, EndAtTheFirstEmptyRecordOrTheCapacity) {
  auto tables = zeroed_tables();
  EXPECT_EQ(station_count(*tables), 0);
  std::strcpy(tables->stations[0].name, "A");
  std::strcpy(tables->stations[1].name, "B");
  std::strcpy(tables->stations[3].name, "D");  // after the gap: not counted
  EXPECT_EQ(station_count(*tables), 2);
  for (int i = 0; i < max_streams; ++i) std::memset(tables->streams[i].name, 'N', 16);
  EXPECT_EQ(stream_count(*tables), max_streams);

  EXPECT_EQ(source_count(*tables), 0);
  std::strcpy(tables->sources[0].name, "S0");
  std::strcpy(tables->sources[2].name, "S2");
  EXPECT_EQ(source_count(*tables), 1);
  for (int i = 0; i < max_sources; ++i) std::snprintf(tables->sources[i].name, 16, "S%d", i);
  EXPECT_EQ(source_count(tables->sources), max_sources);

  EXPECT_EQ(process_count(*tables), 0);
  tables->processes[0].epoch = -1;  // before 1970 is still a process
  tables->processes[1].epoch = 1;
  tables->processes[3].epoch = 3;
  EXPECT_EQ(process_count(*tables), 2);
  for (int i = 0; i < max_processes; ++i) tables->processes[i].epoch = 1 + i;
  EXPECT_EQ(process_count(*tables), max_processes);
}

TEST(TakingPart, StationsAndPairsInStationOrderWithinTheTable) {
  auto tables = zeroed_tables();
  const char* codes[] = {"A", "B", "C", "D"};
  for (int i = 0; i < 4; ++i) {
    std::snprintf(tables->stations[i].name, 16, "N%d", i);
    std::strcpy(tables->codes[i].code, codes[i]);
  }
  std::strcpy(tables->codes[5].code, "E");  // beyond the first empty station: never taking part
  process_info process{};
  std::strcpy(process.stations, "EDBA");

  int stations[max_stations];
  ASSERT_EQ(taking_part_stations(*tables, process, stations), 3);
  EXPECT_EQ(stations[0], 0);
  EXPECT_EQ(stations[1], 1);
  EXPECT_EQ(stations[2], 3);

  station_pair pairs[max_station_pairs];
  ASSERT_EQ(taking_part_pairs(*tables, process, pairs), 6);
  const int expected[6][2] = {{0, 0}, {0, 1}, {0, 3}, {1, 1}, {1, 3}, {3, 3}};
  for (int k = 0; k < 6; ++k) {
    EXPECT_EQ(pairs[k].first, expected[k][0]) << k;
    EXPECT_EQ(pairs[k].second, expected[k][1]) << k;
  }
}

TEST(TakingPart, TenStationsGiveFiftyFivePairs) {
  auto tables = zeroed_tables();
  for (int i = 0; i < max_stations; ++i) {
    std::snprintf(tables->stations[i].name, 16, "N%d", i);
    std::snprintf(tables->codes[i].code, 4, "%c", 'A' + i);
  }
  process_info process{};
  std::strcpy(process.stations, "JIHGFEDCBA");
  station_pair pairs[max_station_pairs];
  ASSERT_EQ(taking_part_pairs(*tables, process, pairs), max_station_pairs);
  EXPECT_EQ(max_station_pairs, 55);
  EXPECT_EQ(pairs[54].first, 9);
  EXPECT_EQ(pairs[54].second, 9);
}

}  // namespace
}  // namespace korva
