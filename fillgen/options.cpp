#include "options.h"

#include <getopt.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

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

bool parse_epoch(const char* text, int64_t& epoch) {
  std::tm parsed{};
  const char* end = strptime(text, "%Y/%j %H:%M:%S", &parsed);
  if (end == nullptr || *end != '\0') return false;
  std::tm normalised = parsed;
  normalised.tm_isdst = 0;
  errno = 0;
  const std::time_t seconds = std::mktime(&normalised);
  if (seconds == static_cast<std::time_t>(-1) && errno != 0) return false;
  // A day past the end of its year or a 60th second would be carried over
  // into another date: refuse it rather than write a file of another epoch.
  if (normalised.tm_year != parsed.tm_year || normalised.tm_yday != parsed.tm_yday ||
      normalised.tm_hour != parsed.tm_hour || normalised.tm_min != parsed.tm_min ||
      normalised.tm_sec != parsed.tm_sec) {
    return false;
  }
  epoch = static_cast<int64_t>(seconds);
  return true;
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
