#include "schedule_words.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "text_scan.h"

namespace korva {

namespace {

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
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
    if (!is_decimal_digit(c) && c != '+' && c != '-' && c != '.' && c != 'e' && c != 'E') return false;
  }
  std::memcpy(text, word.data(), word.size());
  text[word.size()] = '\0';
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (end != text + word.size() || !std::isfinite(v)) return false;
  value = v;
  return true;
}

bool parse_terminal_mode(std::string_view word, int64_t& msps, int32_t& bits, int32_t& channels) {
  int64_t rate, b, c;
  if (!take_digits(word, 10, rate) || !take_text(word, "Msps/") || !take_digits(word, 9, b) ||
      !take_text(word, "bit/") || !take_digits(word, 9, c) || !take_text(word, "ch") || !word.empty())
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
