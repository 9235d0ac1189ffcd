// Word-level parsing of schedule lines: splitting a line into blank-separated
// words and strict conversions of one word to a number or a recording mode
// (dates and times: parse_epoch). Every conversion accepts the whole word or
// nothing, so a malformed value fails its line instead of being stored
// half-read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace korva {

inline constexpr int max_line_words = 16;

// The first max_line_words words of a text; count is the number of all words,
// including those not kept.
struct word_list {
  std::string_view word[max_line_words];
  int count = 0;
};

// Splits text at blanks (space, tab, carriage return, vertical tab, form feed,
// newline).
word_list split_words(std::string_view text);

// Whether text begins with keyword.
bool starts_with_keyword(const char* text, std::string_view keyword);

// Base-10 integer with optional sign that fits in 32 bits.
bool parse_int32(std::string_view word, int32_t& value);

// Finite real in fixed or exponent notation (no hexadecimal, no inf or nan).
bool parse_real(std::string_view word, double& value);

// Recording mode word "<rate>Msps/<bits>bit/<channels>ch" of unsigned
// decimal numbers (rate up to 10 digits, the others up to 9).
bool parse_terminal_mode(std::string_view word, int64_t& msps, int32_t& bits, int32_t& channels);

// Copies word into a NUL-padded field of width bytes when it fits: with
// full_width the word may fill the field, otherwise one byte stays for the NUL.
bool copy_field(std::string_view word, char* field, std::size_t width, bool full_width);

}  // namespace korva
