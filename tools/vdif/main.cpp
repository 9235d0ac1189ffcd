// korva_vdif: writes the raw file of one station for one process of a
// correlation schedule from the station's VDIF recording.
#include <getopt.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "vdif_conversion.h"

namespace {

constexpr const char* usage_text =
    "Usage: korva_vdif --schedule=<file> --process=<n> --station=<code> [--raw-dir=<directory>]\n"
    "                  [--threads=<list> | --channels=<list>] [--report=<file>] FILE.vdif ...\n"
    "Writes the raw file <raw-dir>/<station name>_<YYYYDDDHHMMSS>.raw that korva_corr reads for\n"
    "process n (1-based) of the schedule, from the station's VDIF recording (files read in the\n"
    "order given). Each second of the file holds that UTC second of the recording; frames missing,\n"
    "marked invalid or cut short, and missing seconds, get pseudo-random fill codes that correlate\n"
    "with nothing. One line per second gives the fraction of valid samples.\n"
    "  --schedule   correlation schedule file\n"
    "  --process    process number, 1-based\n"
    "  --station    station code of the schedule\n"
    "  --raw-dir    output directory (default .)\n"
    "  --threads    VDIF thread IDs that give raw channels 1, 2, ... in order, e.g. 0,1,2,3\n"
    "               (default: every thread in ascending ID order, all channels of each)\n"
    "  --channels   channels of a single-thread recording that give raw channels 1, 2, ...\n"
    "  --report     also write the per-second valid fractions to this text file\n"
    "  --help       this text\n";

int fail(const std::string& message) {
  std::fprintf(stderr, "%s\n", message.c_str());
  return 1;
}

bool parse_number(const char* text, long long low, long long high, long long& value) {
  errno = 0;
  char* end = nullptr;
  value = std::strtoll(text, &end, 10);
  return errno == 0 && end != text && *end == '\0' && value >= low && value <= high;
}

// "0,1,2": numbers from 0 to high, comma-separated.
bool parse_list(const std::string& text, long long high, std::vector<uint32_t>& list) {
  size_t start = 0;
  while (start <= text.size()) {
    const size_t comma = std::min(text.find(',', start), text.size());
    long long value = 0;
    if (!parse_number(text.substr(start, comma - start).c_str(), 0, high, value)) return false;
    list.push_back(static_cast<uint32_t>(value));
    start = comma + 1;
  }
  return !list.empty();
}

}  // namespace

int main(int argc, char** argv) {
  enum { opt_schedule = 1, opt_process, opt_station, opt_raw_dir, opt_threads, opt_channels, opt_report, opt_help };
  static const option long_options[] = {{"schedule", required_argument, nullptr, opt_schedule},
                                        {"process", required_argument, nullptr, opt_process},
                                        {"station", required_argument, nullptr, opt_station},
                                        {"raw-dir", required_argument, nullptr, opt_raw_dir},
                                        {"threads", required_argument, nullptr, opt_threads},
                                        {"channels", required_argument, nullptr, opt_channels},
                                        {"report", required_argument, nullptr, opt_report},
                                        {"help", no_argument, nullptr, opt_help},
                                        {nullptr, 0, nullptr, 0}};
  if (argc < 2) {
    std::fputs(usage_text, stdout);
    return 0;
  }
  korva::vdif::conversion_options options;
  bool process_given = false;
  opterr = 0;
  int code;
  while ((code = getopt_long(argc, argv, "", long_options, nullptr)) != -1) {
    long long number = 0;
    switch (code) {
      case opt_schedule: options.schedule_path = optarg; break;
      case opt_process:
        if (!parse_number(optarg, 1, 1000, number)) {
          return fail(std::string("korva_vdif: --process needs a number from 1 to 1000, not [") + optarg + "]");
        }
        options.process_number = static_cast<int32_t>(number);
        process_given = true;
        break;
      case opt_station: options.station_code = optarg; break;
      case opt_raw_dir: options.raw_dir = optarg; break;
      case opt_threads:
        if (!parse_list(optarg, 1023, options.selection.threads)) {
          return fail(std::string("korva_vdif: --threads needs thread IDs 0..1023 separated by commas, not [") + optarg + "]");
        }
        break;
      case opt_channels:
        if (!parse_list(optarg, 31, options.selection.channels)) {
          return fail(std::string("korva_vdif: --channels needs channel numbers 0..31 separated by commas, not [") + optarg + "]");
        }
        break;
      case opt_report: options.report_path = optarg; break;
      case opt_help: std::fputs(usage_text, stdout); return 0;
      default:
        return fail(std::string("korva_vdif: unknown option or missing argument [") + argv[optind - 1] + "] (see --help)");
    }
  }
  if (options.schedule_path.empty()) return fail("korva_vdif: --schedule is required (see --help)");
  if (!process_given) return fail("korva_vdif: --process is required (see --help)");
  if (options.station_code.empty()) return fail("korva_vdif: --station is required (see --help)");
  if (!options.selection.threads.empty() && !options.selection.channels.empty()) {
    return fail("korva_vdif: give --threads or --channels, not both");
  }
  for (int i = optind; i < argc; ++i) options.files.emplace_back(argv[i]);
  options.progress = isatty(STDERR_FILENO) != 0;

  korva::vdif::conversion_result result;
  std::string error;
  if (!korva::vdif::convert_recording(options, stdout, result, error)) return fail(error);
  return 0;
}
