// korva_sim: writes simulated raw files holding a common sky signal, each
// station's copy delayed by the correlator's delay model, for one process of
// a correlation schedule.
#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>

#include "message_buffer.h"
#include "raw_simulator.h"
#include "schedule.h"
#include "vdif_writer.h"

namespace {

constexpr const char* usage_text =
    "Usage: korva_sim --schedule=<file> [--process=<n>] [--raw-dir=<directory>]\n"
    "                 [--seed=<n>] [--correlation=<0..1>] [--clock-ignore]\n"
    "                 [--threads=<1..16>] [--quiet]\n"
    "                 [--format=raw|vdif] [--vdif-layout=channels|threads] [--vdif-frame=<bytes>]\n"
    "Writes the raw file of every station of process n (1-based, default 1) of the\n"
    "schedule: one common Gaussian sky signal as each station receives it (geometric\n"
    "delay, with the schedule's $EOP Earth orientation if it has any, and clock\n"
    "polynomial), plus the station's own noise, quantised to the\n"
    "terminal's bits in its channel layout.\n"
    "  --schedule      correlation schedule file\n"
    "  --process       process number, 1-based (default 1)\n"
    "  --raw-dir       output directory (default .)\n"
    "  --seed          seed of every noise sequence (default 1)\n"
    "  --correlation   correlation coefficient of the stations' signals, 0..1 (default 0.5)\n"
    "  --clock-ignore  leave the schedule's clock polynomials out of the data\n"
    "  --threads       stations simulated at the same time (default 2)\n"
    "  --quiet         print nothing on success\n"
    "  --format        raw (default), or vdif: <station>_<epoch>.vdif recordings for korva_vdif\n"
    "  --vdif-layout   channels: one thread of all channels (default); threads: a thread per channel\n"
    "  --vdif-frame    VDIF frame bytes, header included (default 8032 or the largest that fits)\n"
    "  --help          this text\n";

int fail(const std::string& message) {
  std::fprintf(stderr, "%s\n", message.c_str());
  return 1;
}

bool parse_integer(const char* text, long long low, long long high, long long& value) {
  errno = 0;
  char* end = nullptr;
  value = std::strtoll(text, &end, 10);
  return errno == 0 && end != text && *end == '\0' && value >= low && value <= high;
}

bool parse_unsigned(const char* text, unsigned long long& value) {
  errno = 0;
  char* end = nullptr;
  value = std::strtoull(text, &end, 10);
  return errno == 0 && end != text && *end == '\0' && text[0] != '-';
}

bool parse_real(const char* text, double& value) {
  errno = 0;
  char* end = nullptr;
  value = std::strtod(text, &end);
  return errno == 0 && end != text && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
  setenv("TZ", "GMT", 1);
  tzset();

  enum { opt_schedule = 1, opt_process, opt_raw_dir, opt_seed, opt_correlation, opt_clock_ignore, opt_threads, opt_quiet, opt_help,
        opt_format, opt_vdif_layout, opt_vdif_frame };
  static const option long_options[] = {
      {"schedule", required_argument, nullptr, opt_schedule},
      {"process", required_argument, nullptr, opt_process},
      {"raw-dir", required_argument, nullptr, opt_raw_dir},
      {"seed", required_argument, nullptr, opt_seed},
      {"correlation", required_argument, nullptr, opt_correlation},
      {"clock-ignore", no_argument, nullptr, opt_clock_ignore},
      {"threads", required_argument, nullptr, opt_threads},
      {"quiet", no_argument, nullptr, opt_quiet},
      {"help", no_argument, nullptr, opt_help},
      {"format", required_argument, nullptr, opt_format},
      {"vdif-layout", required_argument, nullptr, opt_vdif_layout},
      {"vdif-frame", required_argument, nullptr, opt_vdif_frame},
      {nullptr, 0, nullptr, 0}};

  korva::sim::simulation_options options;
  std::string schedule_path;
  bool quiet = false;
  bool vdif = false;
  korva::sim::vdif_format vdif_format;
  opterr = 0;
  int code;
  while ((code = getopt_long(argc, argv, "", long_options, nullptr)) != -1) {
    long long integer = 0;
    unsigned long long seed = 0;
    switch (code) {
      case opt_schedule: schedule_path = optarg; break;
      case opt_process:
        if (!parse_integer(optarg, 1, korva::max_processes, integer)) {
          return fail(std::string("korva_sim: --process needs a number from 1 to 1000, not [") + optarg + "]");
        }
        options.process_number = static_cast<int32_t>(integer);
        break;
      case opt_raw_dir: options.raw_dir = optarg; break;
      case opt_seed:
        if (!parse_unsigned(optarg, seed)) {
          return fail(std::string("korva_sim: --seed needs a non-negative integer, not [") + optarg + "]");
        }
        options.seed = seed;
        break;
      case opt_correlation:
        if (!parse_real(optarg, options.correlation) || !(options.correlation >= 0.0 && options.correlation <= 1.0)) {
          return fail(std::string("korva_sim: --correlation needs a number from 0 to 1, not [") + optarg + "]");
        }
        break;
      case opt_clock_ignore: options.with_clock = false; break;
      case opt_threads:
        if (!parse_integer(optarg, 1, 16, integer)) {
          return fail(std::string("korva_sim: --threads needs a number from 1 to 16, not [") + optarg + "]");
        }
        options.threads = static_cast<int>(integer);
        break;
      case opt_quiet: quiet = true; break;
      case opt_help: std::fputs(usage_text, stdout); return 0;
      case opt_format:
        if (std::string(optarg) != "raw" && std::string(optarg) != "vdif") {
          return fail(std::string("korva_sim: --format needs raw or vdif, not [") + optarg + "]");
        }
        vdif = std::string(optarg) == "vdif";
        break;
      case opt_vdif_layout:
        if (std::string(optarg) != "channels" && std::string(optarg) != "threads") {
          return fail(std::string("korva_sim: --vdif-layout needs channels or threads, not [") + optarg + "]");
        }
        vdif_format.layout = std::string(optarg) == "threads" ? korva::sim::vdif_layout::threads
                                                              : korva::sim::vdif_layout::channels;
        break;
      case opt_vdif_frame:
        if (!parse_integer(optarg, 40, 1 << 24, integer)) {
          return fail(std::string("korva_sim: --vdif-frame needs a number of bytes from 40, not [") + optarg + "]");
        }
        vdif_format.frame_bytes = static_cast<int32_t>(integer);
        break;
      default:
        return fail(std::string("korva_sim: unknown option or missing argument [") + argv[optind - 1] +
                    "] (see --help)");
    }
  }
  if (optind < argc) return fail(std::string("korva_sim: unexpected argument [") + argv[optind] + "]");
  if (schedule_path.empty()) return fail("korva_sim: --schedule is required (see --help)");

  auto tables = std::make_unique<korva::schedule_tables>();
  korva::message_buffer message;
  if (korva::korva_read_schedule(*tables, schedule_path.c_str(), message) != 1) {
    return fail(std::string("korva_sim: ") + message.text);
  }

  std::vector<korva::sim::simulated_file> written;
  std::vector<std::string> warnings;
  std::string error;
  bool ok = korva::sim::simulate_process(*tables, options, written, warnings, error);
  if (ok && vdif) ok = korva::sim::rewrite_as_vdif(*tables, options.process_number, vdif_format, written, error);
  for (const std::string& w : warnings) std::fprintf(stderr, "korva_sim: warning: %s\n", w.c_str());
  if (!quiet) {
    for (const auto& f : written) {
      std::printf("korva_sim: %s  %lld bytes  delay %+.9f s  rate %+.4e s/s\n", f.path.c_str(),
                  static_cast<long long>(f.bytes), f.start_delay, f.start_rate);
    }
  }
  if (!ok) return fail(error);
  return 0;
}
