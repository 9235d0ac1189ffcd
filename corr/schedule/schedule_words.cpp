#include "schedule_words.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace korva {

namespace {

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Reads 1..max_digits decimal digits from the front of text.
bool take_digits(std::string_view& text, int max_digits, int64_t& value) {
  int n = 0;
  value = 0;
  while (n < static_cast<int>(text.size()) && is_digit(text[n])) {
    if (++n > max_digits) return false;
    value = value * 10 + (text[n - 1] - '0');
  }
  if (n == 0) return false;
  text.remove_prefix(n);
  return true;
}

bool take_char(std::string_view& text, char c) {
  if (text.empty() || text.front() != c) return false;
  text.remove_prefix(1);
  return true;
}

bool is_leap_year(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// Days from 1970-01-01 to January 1 of year y (proleptic Gregorian).
int64_t days_to_new_year(int64_t y) {
  // Counted in years that begin on March 1, so leap days end a year: January 1
  // of y is day 306 of the March-based year y - 1.
  y -= 1;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = 306;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

}  // namespace

word_list split_words(std::string_view text) {
  word_list words;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && is_blank(text[i])) ++i;
    if (i == text.size()) break;
    const std::size_t start = i;
    while (i < text.size() && !is_blank(text[i])) ++i;
    if (words.count < max_line_words) words.word[words.count] = text.substr(start, i - start);
    ++words.count;
  }
  return words;
}

bool starts_with_keyword(const char* text, std::string_view keyword) {
  return std::strncmp(text, keyword.data(), keyword.size()) == 0;
}

bool parse_int32(std::string_view word, int32_t& value) {
  bool negative = false;
  if (!word.empty() && (word.front() == '+' || word.front() == '-')) {
    negative = word.front() == '-';
    word.remove_prefix(1);
  }
  int64_t magnitude = 0;
  if (!take_digits(word, 10, magnitude) || !word.empty()) return false;
  const int64_t v = negative ? -magnitude : magnitude;
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) return false;
  value = static_cast<int32_t>(v);
  return true;
}

bool parse_real(std::string_view word, double& value) {
  char text[256];
  if (word.empty() || word.size() >= sizeof text) return false;
  // Only decimal notation: digits, sign, point and exponent.
  for (char c : word) {
    if (!is_digit(c) && c != '+' && c != '-' && c != '.' && c != 'e' && c != 'E') return false;
  }
  std::memcpy(text, word.data(), word.size());
  text[word.size()] = '\0';
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (end != text + word.size() || !std::isfinite(v)) return false;
  value = v;
  return true;
}

bool parse_epoch(std::string_view date, std::string_view time, int32_t& epoch) {
  int64_t year, day, hour, minute, second;
  if (!take_digits(date, 4, year) || !take_char(date, '/') || !take_digits(date, 3, day) ||
      !date.empty())
    return false;
  if (!take_digits(time, 2, hour) || !take_char(time, ':') || !take_digits(time, 2, minute) ||
      !take_char(time, ':') || !take_digits(time, 2, second) || !time.empty())
    return false;
  const int64_t days_in_year = is_leap_year(year) ? 366 : 365;
  if (day < 1 || day > days_in_year || hour > 23 || minute > 59 || second > 60) return false;
  const int64_t t =
      (days_to_new_year(year) + day - 1) * 86400 + hour * 3600 + minute * 60 + second;
  if (t < std::numeric_limits<int32_t>::min() || t > std::numeric_limits<int32_t>::max()) return false;
  epoch = static_cast<int32_t>(t);
  return true;
}

bool parse_terminal_mode(std::string_view word, int64_t& msps, int32_t& bits, int32_t& channels) {
  int64_t rate, b, c;
  auto take_text = [&word](std::string_view text) {
    if (word.substr(0, text.size()) != text) return false;
    word.remove_prefix(text.size());
    return true;
  };
  if (!take_digits(word, 10, rate) || !take_text("Msps/") || !take_digits(word, 9, b) ||
      !take_text("bit/") || !take_digits(word, 9, c) || !take_text("ch") || !word.empty())
    return false;
  msps = rate;
  bits = static_cast<int32_t>(b);
  channels = static_cast<int32_t>(c);
  return true;
}

bool copy_field(std::string_view word, char* field, std::size_t width, bool full_width) {
  const std::size_t limit = full_width ? width : width - 1;
  if (word.size() > limit) return false;
  std::memset(field, 0, width);
  std::memcpy(field, word.data(), word.size());
  return true;
}

}  // namespace korva
