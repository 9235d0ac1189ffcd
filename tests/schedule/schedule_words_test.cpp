// Strict word conversions of schedule lines.
#include "schedule_words.h"

#include <gtest/gtest.h>

#include <string>

namespace korva {
namespace {

TEST(ParseInt32, WholeWordInRange) {
  int32_t v = 0;
  EXPECT_TRUE(parse_int32("65536", v));
  EXPECT_EQ(v, 65536);
  EXPECT_TRUE(parse_int32("-2147483648", v));
  EXPECT_EQ(v, INT32_MIN);
  EXPECT_TRUE(parse_int32("+12", v));
  EXPECT_EQ(v, 12);
  for (const char* bad : {"", "+", "-", "12x", "1.0", "2147483648", "0x10", " 1", "99999999999"}) {
    EXPECT_FALSE(parse_int32(bad, v)) << bad;
  }
}

TEST(ParseReal, WholeWordFinite) {
  double v = 0;
  EXPECT_TRUE(parse_real("-3.9e6", v));
  EXPECT_EQ(v, -3.9e6);
  EXPECT_TRUE(parse_real("8.192E9", v));
  EXPECT_EQ(v, 8.192e9);
  EXPECT_TRUE(parse_real("0", v));
  EXPECT_EQ(v, 0.0);
  for (const char* bad : {"", "1.5abc", "inf", "nan", "0x1p3", "1e999", "e5", "--1"}) {
    EXPECT_FALSE(parse_real(bad, v)) << bad;
  }
}

TEST(SplitWords, CountsEveryWordAndKeepsTheFirstSixteen) {
  const word_list words = split_words("  $Process\t2008/101 12:00:00  60 SRC1 AB\r");
  ASSERT_EQ(words.count, 6);
  EXPECT_EQ(words.word[0], "$Process");
  EXPECT_EQ(words.word[5], "AB");  // a carriage return is a blank
  std::string many;
  for (int i = 0; i < 20; ++i) many += "w" + std::to_string(i) + " ";
  const word_list long_list = split_words(many);
  EXPECT_EQ(long_list.count, 20);
  EXPECT_EQ(long_list.word[15], "w15");
  EXPECT_EQ(split_words("   ").count, 0);
}

TEST(TerminalMode, ReadsTheThreeNumbersOfTheWholeWord) {
  int64_t msps = 0;
  int32_t bits = 0, channels = 0;
  ASSERT_TRUE(parse_terminal_mode("1024Msps/2bit/16ch", msps, bits, channels));
  EXPECT_EQ(msps, 1024);
  EXPECT_EQ(bits, 2);
  EXPECT_EQ(channels, 16);
  for (const char* bad : {"1024Msps/2bit/16", "1024Msps/2bit/16chx", "Msps/2bit/1ch", "-1Msps/2bit/1ch",
                          "1024msps/2bit/1ch", "1024Msps/2bits/1ch", ""}) {
    EXPECT_FALSE(parse_terminal_mode(bad, msps, bits, channels)) << bad;
  }
}

TEST(CopyField, NeverWritesPastTheField) {
  char field[6] = {'x', 'x', 'x', 'x', 'x', 'G'};  // last byte guards the five-byte field
  EXPECT_TRUE(copy_field("abcd", field, 5, false));
  EXPECT_EQ(std::string(field, 5), std::string("abcd\0", 5));
  EXPECT_FALSE(copy_field("abcde", field, 5, false));
  EXPECT_TRUE(copy_field("abcde", field, 5, true));
  EXPECT_EQ(std::string(field, 5), "abcde");
  EXPECT_FALSE(copy_field("abcdef", field, 5, true));
  EXPECT_EQ(field[5], 'G');
}

}  // namespace
}  // namespace korva
