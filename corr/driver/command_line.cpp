#include "command_line.h"

#include <getopt.h>

#include <cstdlib>
#include <cstring>
#include <iterator>

#include "working_memory.h"

namespace korva {

namespace {

enum option_code : int {
  schedule_option = 1,
  raw_dir_option,
  cor_dir_option,
  multi_option,
  help_option,
  version_option,
  extra_option_code,
};

const option long_options[] = {
    {"schedule", required_argument, nullptr, schedule_option},
    {"raw-dir", required_argument, nullptr, raw_dir_option},
    {"cor-dir", required_argument, nullptr, cor_dir_option},
    {"multi", required_argument, nullptr, multi_option},
    {"help", no_argument, nullptr, help_option},
    {"version", no_argument, nullptr, version_option},
    {nullptr, 0, nullptr, 0},
};

// Copies a path into its setting, or refuses it (naming its source) when it
// does not fit.
bool set_path(char (&setting)[max_path_length + 1], const char* value, const char* source, std::FILE* err) {
  if (std::strlen(value) > static_cast<std::size_t>(max_path_length)) {
    std::fprintf(err, "korva_corr : Path of %s is longer than %d characters [%s]\n", source, max_path_length,
                 value);
    return false;
  }
  std::strcpy(setting, value);
  return true;
}

}  // namespace

bool read_thread_count(const char* text, int32_t& count) {
  std::size_t i = 0;
  if (text[i] == '+') ++i;
  const std::size_t first_digit = i;
  int64_t value = 0;
  for (; text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value <= max_threads) value = value * 10 + (text[i] - '0');  // large stays large
  }
  if (i == first_digit || text[i] != '\0' || value < 1) return false;
  count = static_cast<int32_t>(value > max_threads ? max_threads : value);
  return true;
}

command_outcome read_command_line(int argc, char** argv, run_settings& settings, std::FILE* out,
                                  std::FILE* err) {
  return read_command_line(argc, argv, settings, out, err, extra_option{}, print_usage, print_version);
}

command_outcome read_command_line(int argc, char** argv, run_settings& settings, std::FILE* out,
                                  std::FILE* err, const extra_option& extra, void (*usage)(std::FILE*),
                                  void (*version)(std::FILE*)) {
  option options[std::size(long_options) + 1];
  std::size_t count = 0;
  for (; long_options[count].name != nullptr; ++count) options[count] = long_options[count];
  if (extra.name != nullptr) options[count++] = option{extra.name, required_argument, nullptr, extra_option_code};
  options[count] = option{nullptr, 0, nullptr, 0};
  optind = 0;  // full re-initialisation of the parser, for repeated use
  int code;
  while ((code = getopt_long(argc, argv, "", options, nullptr)) != -1) {
    switch (code) {
      case schedule_option:
        if (!set_path(settings.schedule_path, optarg, "--schedule", err)) return command_outcome::failed;
        break;
      case raw_dir_option:
        if (!set_path(settings.raw_dir, optarg, "--raw-dir", err)) return command_outcome::failed;
        break;
      case cor_dir_option:
        if (!set_path(settings.cor_dir, optarg, "--cor-dir", err)) return command_outcome::failed;
        break;
      case multi_option:
        if (!read_thread_count(optarg, settings.thread_count)) {
          std::fprintf(err, "korva_corr : Number of threads [--multi=%s] is not an integer of 1 or more\n",
                       optarg);
          return command_outcome::failed;
        }
        break;
      case help_option:
        usage(out);
        return command_outcome::finished;
      case version_option:
        version(out);
        return command_outcome::finished;
      case extra_option_code:
        if (!extra.accept(optarg, err)) return command_outcome::failed;
        break;
      default:  // an unknown option or a missing argument, named by getopt_long
        return command_outcome::failed;
    }
  }
  // A stray word is most likely a mistyped option: running on would write
  // into directories the user did not mean.
  if (optind < argc) {
    std::fprintf(err, "korva_corr : Unexpected argument [%s]\n", argv[optind]);
    return command_outcome::failed;
  }
  return command_outcome::run;
}

command_outcome read_environment(run_settings& settings, std::FILE* err) {
  const char* raw = std::getenv("RAW-FILE");
  if (settings.raw_dir[0] == '\0' && raw != nullptr && !set_path(settings.raw_dir, raw, "RAW-FILE", err))
    return command_outcome::failed;
  const char* cor = std::getenv("COR-FILE");
  if (settings.cor_dir[0] == '\0' && cor != nullptr && !set_path(settings.cor_dir, cor, "COR-FILE", err))
    return command_outcome::failed;
  // Never the filesystem root through a missing directory.
  if (settings.raw_dir[0] == '\0') std::strcpy(settings.raw_dir, ".");
  if (settings.cor_dir[0] == '\0') std::strcpy(settings.cor_dir, ".");
  return command_outcome::run;
}

void print_usage(std::FILE* out) {
  std::fputs("Name\n\t korva_corr - Correlation processing is executed according to a schedule.\n", out);
  std::fputs("Format\n\t korva_corr   [--help] [--version] [--schedule=<file>]\n"
             "\t [--raw-dir=<directory>] [--cor-dir=<directory>] [--multi=<1\u301c8>]\n",
             out);
  std::fputs("Option\n", out);
  std::fputs("\t--schedule Correlation schedule file is assigned\n", out);
  std::fputs("\t--raw-dir  Directory of raw-file is assigned\n", out);
  std::fputs("\t--cor-dir  Directory of cor-file is assigned\n", out);
  std::fputs("\t--multi    The number of CPUs to be used is assigned\n", out);
  std::fputs("\t--help     Display this information\n", out);
  std::fputs("\t--version  Display the programs version\n", out);
}

void print_version(std::FILE* out) { std::fputs("korva_corr [Version 1.0.0.0]\n", out); }

}  // namespace korva
