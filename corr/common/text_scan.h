// Scanning of decimal fields from the front of a word, for the strict
// readers of schedule words and epochs: each step consumes what it reads and
// fails without a partial value.
#pragma once

#include <cstdint>
#include <string_view>

namespace korva {

inline bool is_decimal_digit(char c) { return c >= '0' && c <= '9'; }

// Reads 1..max_digits decimal digits from the front of text into value.
inline bool take_digits(std::string_view& text, int max_digits, int64_t& value) {
  int n = 0;
  value = 0;
  while (n < static_cast<int>(text.size()) && is_decimal_digit(text[n])) {
    if (++n > max_digits) return false;
    value = value * 10 + (text[n - 1] - '0');
  }
  if (n == 0) return false;
  text.remove_prefix(n);
  return true;
}

// Consumes the character c from the front of text.
inline bool take_char(std::string_view& text, char c) {
  if (text.empty() || text.front() != c) return false;
  text.remove_prefix(1);
  return true;
}

// Consumes the literal prefix from the front of text.
inline bool take_text(std::string_view& text, std::string_view prefix) {
  if (text.substr(0, prefix.size()) != prefix) return false;
  text.remove_prefix(prefix.size());
  return true;
}

}  // namespace korva
