// Command line of fillgen: long options only, acted on in the order given, a
// later occurrence overwriting an earlier one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace fillgen {

inline constexpr std::size_t max_station_chars = 255;
// A block is written as one item of block * 4 bytes, which must stay below 2^32.
inline constexpr int64_t max_block_words = (int64_t{1} << 30) - 1;

struct settings {
  std::string station = "Dummy-Station";  // at most max_station_chars
  int64_t epoch = 0;                      // UTC second of the first block
  int64_t block = 32000000;               // words per second
  int64_t length = 1;                     // seconds
};

enum class action { run, usage, version, fail };

// Reads the options of argv into s. Returns usage or version at the first
// --help or --version, fail with the one-line message (newline included) in
// error at the first bad option, and run otherwise. getopt_long itself reports
// unknown options and missing arguments on standard error, leaving error empty.
action read_options(int argc, char** argv, settings& s, std::string& error);

// The UTC second of a date word "YYYY/DDD" (a year of 1 to 4 digits, a day of
// the year 1..365 or 366 in leap years) and a time word "HH:MM:SS" (hours
// 0..23, minutes 0..59, seconds 0..60, a 60th second being the first second
// of the next minute), as the correlator's schedule reader reads them. False,
// leaving epoch as it was, unless both words are whole and the second fits
// in 32 bits, as the correlator's epochs do.
bool parse_epoch_words(std::string_view date, std::string_view time, int64_t& epoch);

// The --epoch text: exactly the two words "YYYY/DDD HH:MM:SS" separated by
// blanks, read with parse_epoch_words.
bool parse_epoch(const char* text, int64_t& epoch);

// A whole base-10 signed 64-bit integer; false otherwise.
bool parse_integer(const char* text, int64_t& value);

// The usage text.
extern const char usage_text[];
extern const char version_text[];

}  // namespace fillgen
