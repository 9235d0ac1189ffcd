#include "options.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

class Options : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "GMT", 1);
    tzset();
  }
  fillgen::action read(std::vector<std::string> args) {
    args.insert(args.begin(), "fillgen");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return fillgen::read_options(static_cast<int>(args.size()), argv.data(), s, error);
  }
  fillgen::settings s;
  std::string error;
};

int64_t utc_second(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return static_cast<int64_t>(timegm(&t));
}

TEST_F(Options, EpochTextIsDayOfYearInUtc) {
  int64_t epoch = -1;
  ASSERT_TRUE(fillgen::parse_epoch("2008/101 12:00:00", epoch));
  EXPECT_EQ(epoch, utc_second(2008, 4, 10, 12, 0, 0));
  ASSERT_TRUE(fillgen::parse_epoch("1970/001 00:00:00", epoch));
  EXPECT_EQ(epoch, 0);
  ASSERT_TRUE(fillgen::parse_epoch("2008/366 23:59:59", epoch));  // leap year
  EXPECT_EQ(epoch, utc_second(2008, 12, 31, 23, 59, 59));
  ASSERT_TRUE(fillgen::parse_epoch("1969/365 23:59:59", epoch));  // the second -1
  EXPECT_EQ(epoch, -1);
  // As in the schedule: a 60th second is the first of the next minute.
  ASSERT_TRUE(fillgen::parse_epoch("2008/366 23:59:60", epoch));
  EXPECT_EQ(epoch, utc_second(2009, 1, 1, 0, 0, 0));
  ASSERT_TRUE(fillgen::parse_epoch(" 2008/101   12:00:00 ", epoch));  // words between blanks
  EXPECT_EQ(epoch, utc_second(2008, 4, 10, 12, 0, 0));
}

TEST_F(Options, EpochTextsThatDoNotParseAreRefused) {
  int64_t epoch = 42;
  for (const char* text : {"", "2008", "2008/101", "2008/101 12:00", "2008-04-10 12:00:00",
                           "2008/101 12:00:00x", "2009/366 00:00:00", "2008/000 00:00:00",
                           "2008/101 24:00:00", "2008/101 12:60:00", "2008/101 12:00:61",
                           "2008/101 12:00:00 x", "2038/019 03:14:08", "tomorrow"}) {
    EXPECT_FALSE(fillgen::parse_epoch(text, epoch)) << text;
  }
  EXPECT_EQ(epoch, 42);
}

TEST_F(Options, IntegersMustBeWholeBase10Numbers) {
  int64_t value = 0;
  EXPECT_TRUE(fillgen::parse_integer("32000000", value));
  EXPECT_EQ(value, 32000000);
  EXPECT_TRUE(fillgen::parse_integer("-3", value));
  EXPECT_EQ(value, -3);
  EXPECT_TRUE(fillgen::parse_integer("010", value));
  EXPECT_EQ(value, 10);  // base 10, not octal
  for (const char* text : {"", "12x", "0x10", "1e6", "99999999999999999999", "two"}) {
    EXPECT_FALSE(fillgen::parse_integer(text, value)) << text;
  }
}

TEST_F(Options, DefaultsAndLaterOccurrencesOverwrite) {
  ASSERT_EQ(read({"--length", "3"}), fillgen::action::run);
  EXPECT_EQ(s.station, "Dummy-Station");
  EXPECT_EQ(s.epoch, 0);
  EXPECT_EQ(s.block, 32000000);
  EXPECT_EQ(s.length, 3);
  ASSERT_EQ(read({"--station=A", "--block=8", "--station", "B", "--block", "16",
                  "--epoch=2008/101 12:00:00"}),
            fillgen::action::run);
  EXPECT_EQ(s.station, "B");
  EXPECT_EQ(s.block, 16);
  EXPECT_EQ(s.epoch, utc_second(2008, 4, 10, 12, 0, 0));
}

TEST_F(Options, LongStationNameIsCutAt255Characters) {
  ASSERT_EQ(read({"--station=" + std::string(300, 'S')}), fillgen::action::run);
  EXPECT_EQ(s.station, std::string(255, 'S'));
  ASSERT_EQ(read({"--station=" + std::string(255, 'T')}), fillgen::action::run);
  EXPECT_EQ(s.station, std::string(255, 'T'));
}

TEST_F(Options, HelpAndVersionActAtOnceInOrder) {
  EXPECT_EQ(read({"--help", "--block=0"}), fillgen::action::usage);
  EXPECT_EQ(read({"--version", "--help"}), fillgen::action::version);
  EXPECT_EQ(read({"--block=0", "--help"}), fillgen::action::fail);
}

TEST_F(Options, BadValuesAreRefusedWithTheirMessage) {
  EXPECT_EQ(read({"--block=0"}), fillgen::action::fail);
  EXPECT_EQ(error, "Fillgen : Block [0] Out of Range [1 - 1073741823 words] Error!\n");
  EXPECT_EQ(read({"--block=-5"}), fillgen::action::fail);
  EXPECT_EQ(error, "Fillgen : Block [-5] Out of Range [1 - 1073741823 words] Error!\n");
  // 2^30 words are 2^32 bytes: one too many; one less still fits.
  EXPECT_EQ(read({"--block=1073741824"}), fillgen::action::fail);
  EXPECT_EQ(read({"--block=1073741823"}), fillgen::action::run);
  EXPECT_EQ(read({"--block=lots"}), fillgen::action::fail);
  EXPECT_EQ(error, "Fillgen : Invalid Block [lots] Error!\n");
  EXPECT_EQ(read({"--length=1.5"}), fillgen::action::fail);
  EXPECT_EQ(error, "Fillgen : Invalid Length [1.5] Error!\n");
  EXPECT_EQ(read({"--epoch=2008/101"}), fillgen::action::fail);
  EXPECT_EQ(error, "Fillgen : Invalid Epoch [2008/101] Error!\n");
  EXPECT_EQ(read({"--station=A", "stray"}), fillgen::action::fail);
  EXPECT_EQ(error, "Fillgen : Unexpected Argument [stray] Error!\n");
  EXPECT_EQ(read({"--colour=red"}), fillgen::action::fail);  // getopt_long reports it
  EXPECT_EQ(error, "");
  EXPECT_EQ(read({"--station"}), fillgen::action::fail);
}

}  // namespace
