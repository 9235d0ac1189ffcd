// Command line of fillgen: long options only, acted on in the order given, a
// later occurrence overwriting an earlier one.
#pragma once

#include <cstdint>
#include <string>

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

// "%Y/%j %H:%M:%S" in UTC (TZ must be GMT) to the UTC second; false when the
// text is not a whole, valid date and time.
bool parse_epoch(const char* text, int64_t& epoch);

// A whole base-10 signed 64-bit integer; false otherwise.
bool parse_integer(const char* text, int64_t& value);

// The usage text.
extern const char usage_text[];
extern const char version_text[];

}  // namespace fillgen
