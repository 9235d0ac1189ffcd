// Epoch texts and the reading of date and time words, always in UTC.
#include "epoch_text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>

namespace korva {
namespace {

// glibc's timegm is the oracle for the calendar arithmetic.
int64_t oracle_epoch(int year, int day_of_year, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = 0;
  tm.tm_mday = day_of_year;  // normalised by timegm
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return static_cast<int64_t>(timegm(&tm));
}

TEST(ParseEpoch, AgreesWithTimegmOnRandomDates) {
  std::mt19937 generator(20240611);
  for (int n = 0; n < 5000; ++n) {
    const int year = 1902 + static_cast<int>(generator() % 136);  // 1902..2037
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int day = 1 + static_cast<int>(generator() % (leap ? 366 : 365));
    const int hour = generator() % 24, minute = generator() % 60, second = generator() % 60;
    char date[16], time[16];
    std::snprintf(date, sizeof date, "%04d/%03d", year, day);
    std::snprintf(time, sizeof time, "%02d:%02d:%02d", hour, minute, second);
    const int64_t expected = oracle_epoch(year, day, hour, minute, second);
    if (expected < INT32_MIN || expected > INT32_MAX) continue;
    int32_t epoch = 0;
    ASSERT_TRUE(parse_epoch(date, time, epoch)) << date << ' ' << time;
    EXPECT_EQ(epoch, expected) << date << ' ' << time;
  }
}

TEST(ParseEpoch, KnownInstants) {
  int32_t epoch = -1;
  ASSERT_TRUE(parse_epoch("1970/001", "00:00:00", epoch));
  EXPECT_EQ(epoch, 0);
  ASSERT_TRUE(parse_epoch("2000/001", "12:00:00", epoch));
  EXPECT_EQ(epoch, 946728000);  // J2000.0 in UTC seconds
  ASSERT_TRUE(parse_epoch("2038/019", "03:14:07", epoch));
  EXPECT_EQ(epoch, INT32_MAX);
  ASSERT_TRUE(parse_epoch("2008/1", "0:0:0", epoch));  // short fields as %j/%H read them
  EXPECT_EQ(epoch, oracle_epoch(2008, 1, 0, 0, 0));
}

TEST(ParseEpoch, RefusesWhatIsNoDate) {
  int32_t epoch = 7;
  for (auto [date, time] : {std::pair{"2008/366", "00:00:00"}, std::pair{"2007/366", "00:00:00"},
                            std::pair{"2008/000", "00:00:00"}, std::pair{"2008/367", "00:00:00"},
                            std::pair{"2008-101", "00:00:00"}, std::pair{"2008/101", "24:00:00"},
                            std::pair{"2008/101", "12:60:00"}, std::pair{"2008/101", "12:00:61"},
                            std::pair{"2008/101", "12:00"}, std::pair{"2008/101x", "12:00:00"},
                            std::pair{"2008/101", "12:00:00s"}, std::pair{"20080/101", "12:00:00"},
                            std::pair{"2038/019", "03:14:08"}, std::pair{"", ""}}) {
    const bool leap_day_ok = std::string(date) == "2008/366";  // 2008 is a leap year
    EXPECT_EQ(parse_epoch(date, time, epoch), leap_day_ok) << date << ' ' << time;
  }
}

TEST(ParseEpoch, SixtiethSecondIsTheFirstOfTheNextMinute) {
  int32_t leap = 0, next = 0;
  ASSERT_TRUE(parse_epoch("2016/366", "23:59:60", leap));
  ASSERT_TRUE(parse_epoch("2017/001", "00:00:00", next));
  EXPECT_EQ(leap, next);
}

TEST(EpochText, KnownInstantsInBothForms) {
  struct instant {
    int32_t epoch;
    const char* compact;
    const char* schedule;
  };
  for (const instant& i : {instant{0, "1970001000000", "1970/001 00:00:00"},
                           instant{1207828800, "2008101120000", "2008/101 12:00:00"},
                           instant{-1, "1969365235959", "1969/365 23:59:59"},
                           instant{INT32_MAX, "2038019031407", "2038/019 03:14:07"},
                           instant{INT32_MIN, "1901347204552", "1901/347 20:45:52"}}) {
    EXPECT_STREQ(compact_epoch_text(i.epoch).text, i.compact) << i.epoch;
    EXPECT_STREQ(schedule_epoch_text(i.epoch).text, i.schedule) << i.epoch;
  }
}

TEST(EpochText, IsUtcWhateverTheTimeZone) {
  const char* saved = std::getenv("TZ");
  const std::string previous = saved != nullptr ? saved : "";
  setenv("TZ", "Asia/Tokyo", 1);
  tzset();
  const std::string text = compact_epoch_text(1207828800).text;
  if (saved != nullptr) {
    setenv("TZ", previous.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
  EXPECT_EQ(text, "2008101120000");
}

// The schedule form read back gives the epoch again: two paths through the
// calendar, one through the C library and one through the reader.
TEST(EpochText, ScheduleTextReadsBackToItsEpoch) {
  std::mt19937 generator(7);
  for (int n = 0; n < 2000; ++n) {
    const int32_t epoch = static_cast<int32_t>(generator());
    const std::string text = schedule_epoch_text(epoch).text;
    const std::size_t blank = text.find(' ');
    int32_t back = 0;
    ASSERT_TRUE(parse_epoch(text.substr(0, blank), text.substr(blank + 1), back)) << text;
    EXPECT_EQ(back, epoch) << text;
  }
}

}  // namespace
}  // namespace korva
