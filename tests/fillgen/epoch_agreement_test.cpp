// fillgen keeps its own copy of the schedule reader's epoch rule (it shares no
// code with the correlator): the same date and time words must give the same
// answer and the same second in both, so that a generated file is named after
// the epoch the schedule means.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "epoch_text.h"
#include "options.h"

namespace {

struct verdict {
  bool accepted;
  int64_t epoch;
};

verdict schedule_reader(const std::string& date, const std::string& time) {
  int32_t epoch = 0;
  const bool accepted = korva::parse_epoch(date, time, epoch);
  return {accepted, accepted ? epoch : 0};
}

verdict generator_words(const std::string& date, const std::string& time) {
  int64_t epoch = 0;
  const bool accepted = fillgen::parse_epoch_words(date, time, epoch);
  return {accepted, accepted ? epoch : 0};
}

// The --epoch option: both words in one text.
verdict generator_option(const std::string& date, const std::string& time) {
  int64_t epoch = 0;
  const bool accepted = fillgen::parse_epoch((date + " " + time).c_str(), epoch);
  return {accepted, accepted ? epoch : 0};
}

void expect_agreement(const std::string& date, const std::string& time) {
  const verdict reader = schedule_reader(date, time);
  for (const verdict other : {generator_words(date, time), generator_option(date, time)}) {
    EXPECT_EQ(other.accepted, reader.accepted) << '[' << date << "] [" << time << ']';
    EXPECT_EQ(other.epoch, reader.epoch) << '[' << date << "] [" << time << ']';
  }
}

TEST(EpochAgreement, EdgesOfEveryField) {
  const std::vector<std::string> dates = {
      "1970/001", "2008/366", "2007/366", "2000/366", "1900/366", "2008/000", "2008/367", "2008/1",
      "08/101",   "2008/0101", "20080/101", "2008-101", "2008/101x", "/101",   "2008/",    "+2008/101",
      "1901/347", "1901/348", "2038/019", "2038/020", "0000/001", "9999/365", "2008//101", ""};
  const std::vector<std::string> times = {
      "00:00:00", "23:59:59", "23:59:60", "12:00:61", "24:00:00", "12:60:00", "0:0:0",    "00:00:000",
      "12:00",    "12:00:00s", "12-00-00", "-1:00:00", "03:14:07", "03:14:08", "20:45:52", "20:45:51",
      "::",       ""};
  for (const std::string& date : dates) {
    for (const std::string& time : times) expect_agreement(date, time);
  }
}

TEST(EpochAgreement, SixtiethSecondIsAcceptedByBoth) {
  EXPECT_TRUE(schedule_reader("2008/366", "23:59:60").accepted);
  expect_agreement("2008/366", "23:59:60");
  EXPECT_EQ(generator_option("2008/366", "23:59:60").epoch, schedule_reader("2009/001", "00:00:00").epoch);
}

// Random words over the characters that matter, most of them near the form.
TEST(EpochAgreement, RandomWords) {
  std::mt19937 generator(20240611);
  const std::string alphabet = "0123456789/:";
  auto random_text = [&](const std::string& pattern) {
    std::string text;
    for (char c : pattern) {
      const uint32_t dice = generator() % 16;
      if (dice == 0) continue;                                           // drop a character
      if (dice == 1) text += alphabet[generator() % alphabet.size()];    // insert one
      text += c == '9' ? static_cast<char>('0' + generator() % 10) : c;  // digit or separator
    }
    return text;
  };
  for (int n = 0; n < 20000; ++n) expect_agreement(random_text("9999/999"), random_text("99:99:99"));
}

}  // namespace
