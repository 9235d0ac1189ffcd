// Settings of a korva_corr run from its long options and environment.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>

namespace korva {

// Longest schedule path and directory; a longer one is refused, never cut.
inline constexpr int max_path_length = 255;

// Exit statuses of korva_corr.
inline constexpr int exit_success = 0;
inline constexpr int exit_failure = 1;

struct run_settings {
  char schedule_path[max_path_length + 1] = {};
  char raw_dir[max_path_length + 1] = {};
  char cor_dir[max_path_length + 1] = {};
  int32_t thread_count = 1;  // worker threads, 1..8
};

enum class command_outcome {
  run,       // settings complete: go on
  finished,  // usage or version printed: end with success
  failed,    // a refusal printed on the error stream: end with failure
};

// Reads the long options in the order given (argv may be permuted). --help
// and --version print on out and finish at once; refusals (a path over 255
// characters, a --multi that is not an integer of 1 or more, a word that is
// not an option) print one line on err. An unknown option or a missing
// argument is named by the option parser on standard error and fails.
command_outcome read_command_line(int argc, char** argv, run_settings& settings, std::FILE* out,
                                  std::FILE* err);

// One more long option, with a required argument, for a program that runs
// korva_corr's command line: accept takes the argument, or prints a refusal
// on err and returns false.
struct extra_option {
  const char* name;
  std::function<bool(const char* argument, std::FILE* err)> accept;
};

// read_command_line with one extra option and the program's own usage and
// version texts.
command_outcome read_command_line(int argc, char** argv, run_settings& settings, std::FILE* out,
                                  std::FILE* err, const extra_option& extra, void (*usage)(std::FILE*),
                                  void (*version)(std::FILE*));

// Fills an empty raw directory from RAW-FILE and an empty cor directory from
// COR-FILE; a directory still empty then is the current one, ".".
command_outcome read_environment(run_settings& settings, std::FILE* err);

// Whole --multi argument as a worker count: 1..8 (8 for anything above).
// Returns false for text that is not an integer of 1 or more.
bool read_thread_count(const char* text, int32_t& count);

void print_usage(std::FILE* out);
void print_version(std::FILE* out);

}  // namespace korva
