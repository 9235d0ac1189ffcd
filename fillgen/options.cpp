#include "options.h"

#include <getopt.h>

#include <cerrno>
#include <cstdlib>
#include <limits>
#include <string_view>

namespace fillgen {

const char usage_text[] =
    "Name\n\t fillgen - Create KORVA Raw-File by the random generator\n"
    "Format\n\t fillgen   [--help] [--version] [--station=name]\n"
    "\t [--epoch='YYYY/DDD HH:MM:SS'] [--block=words] [--length=blocks]\n"
    "Option\n"
    "\t--station  Station Name is assigned\n"
    "\t--epoch    Starting epoch is assigned\n"
    "\t--block    Word size [1word=32bit] in 1-second is assigned\n"
    "\t--length   Number of seconds is assigned\n"
    "\t--help     Display this information\n"
    "\t--version  Display the programs version\n";

const char version_text[] = "fillgen [Version 1.0.0.0]\n";

// The epoch rule of the correlator's schedule reader, kept here because the
// generator shares no code with the correlator; a test feeds the same words
// to both and checks that they agree.
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

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

// The next blank-separated word of text, removed from it; empty at the end.
std::string_view take_word(std::string_view& text) {
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  std::size_t length = 0;
  while (length < text.size() && !is_blank(text[length])) ++length;
  const std::string_view word = text.substr(0, length);
  text.remove_prefix(length);
  return word;
}

bool is_leap_year(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// Days from 1970-01-01 to January 1 of year y (proleptic Gregorian), counted
// in years that begin on March 1, so that leap days end a year.
int64_t days_to_new_year(int64_t y) {
  y -= 1;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + 306;
  return era * 146097 + doe - 719468;
}

}  // namespace

bool parse_epoch_words(std::string_view date, std::string_view time, int64_t& epoch) {
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
  epoch = t;
  return true;
}

bool parse_epoch(const char* text, int64_t& epoch) {
  std::string_view rest(text);
  const std::string_view date = take_word(rest);
  const std::string_view time = take_word(rest);
  if (!take_word(rest).empty()) return false;
  return parse_epoch_words(date, time, epoch);
}

bool parse_integer(const char* text, int64_t& value) {
  if (*text == '\0') return false;
  char* end = nullptr;
  errno = 0;
  const long long parsed = std::strtoll(text, &end, 10);
  if (errno != 0 || *end != '\0') return false;
  value = parsed;
  return true;
}

namespace {

enum option_id { station_option = 1, epoch_option, block_option, length_option, help_option, version_option };

const option long_options[] = {
    {"station", required_argument, nullptr, station_option},
    {"epoch", required_argument, nullptr, epoch_option},
    {"block", required_argument, nullptr, block_option},
    {"length", required_argument, nullptr, length_option},
    {"help", no_argument, nullptr, help_option},
    {"version", no_argument, nullptr, version_option},
    {nullptr, 0, nullptr, 0},
};

// "Fillgen : <what> [<text>]<detail> Error!\n"
action refuse(std::string& error, const char* what, const char* text, const char* detail = "") {
  error = std::string("Fillgen : ") + what + " [" + text + "]" + detail + " Error!\n";
  return action::fail;
}

}  // namespace

action read_options(int argc, char** argv, settings& s, std::string& error) {
  error.clear();
  optind = 0;  // full re-initialisation, so the options can be read again
  for (;;) {
    const int id = getopt_long(argc, argv, "", long_options, nullptr);
    if (id == -1) break;
    switch (id) {
      case station_option:
        // The name becomes the first part of the file name: a '/' would
        // write the file into another directory.
        if (std::string_view(optarg).find('/') != std::string_view::npos)
          return refuse(error, "Station Name", optarg, " Contains '/'");
        s.station.assign(optarg);
        if (s.station.size() > max_station_chars) s.station.resize(max_station_chars);
        break;
      case epoch_option:
        if (!parse_epoch(optarg, s.epoch)) return refuse(error, "Invalid Epoch", optarg);
        break;
      case block_option:
        if (!parse_integer(optarg, s.block)) return refuse(error, "Invalid Block", optarg);
        if (s.block < 1 || s.block > max_block_words) {
          return refuse(error, "Block", optarg, " Out of Range [1 - 1073741823 words]");
        }
        break;
      case length_option:
        if (!parse_integer(optarg, s.length)) return refuse(error, "Invalid Length", optarg);
        break;
      case help_option:
        return action::usage;
      case version_option:
        return action::version;
      default:
        return action::fail;  // getopt_long has printed why
    }
  }
  if (optind < argc) return refuse(error, "Unexpected Argument", argv[optind]);
  return action::run;
}

}  // namespace fillgen
