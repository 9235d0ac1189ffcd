#include <cstdlib>

#include "mpi_job.h"

namespace korva {

namespace {

// Whole --chunk argument as a number of seconds, 1 or more; larger values
// than any process's length are as good as the largest int32.
bool read_chunk_seconds(const char* text, int32_t& seconds) {
  std::size_t i = 0;
  if (text[i] == '+') ++i;
  const std::size_t first_digit = i;
  int64_t value = 0;
  for (; text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value <= INT32_MAX) value = value * 10 + (text[i] - '0');
  }
  if (i == first_digit || text[i] != '\0' || value < 1) return false;
  seconds = static_cast<int32_t>(value > INT32_MAX ? INT32_MAX : value);
  return true;
}

void print_job_version(std::FILE* out) { std::fputs("korva_mpi [Version 1.0.0.0]\n", out); }

}  // namespace

void print_job_usage(std::FILE* out) {
  std::fputs("Name\n\t korva_mpi - Correlation processing of a schedule on many MPI processes.\n", out);
  std::fputs("Format\n\t mpirun -np <N> korva_mpi   [--help] [--version] [--schedule=<file>]\n"
             "\t [--raw-dir=<directory>] [--cor-dir=<directory>] [--multi=<1\u301c8>] [--chunk=<seconds>]\n",
             out);
  std::fputs("Option\n", out);
  std::fputs("\t--schedule Correlation schedule file is assigned\n", out);
  std::fputs("\t--raw-dir  Directory of raw-file is assigned (the same path on every node)\n", out);
  std::fputs("\t--cor-dir  Directory of cor-file is assigned (written by rank 0 only)\n", out);
  std::fputs("\t--multi    The number of CPUs to be used by each worker rank is assigned\n", out);
  std::fputs("\t--chunk    Seconds of one stream in one unit of work (default 10)\n", out);
  std::fputs("\t--help     Display this information\n", out);
  std::fputs("\t--version  Display the programs version\n", out);
}

command_outcome read_job_command_line(int argc, char** argv, job_settings& settings, std::FILE* out,
                                      std::FILE* err) {
  const extra_option chunk{"chunk", [&settings](const char* argument, std::FILE* refusals) {
                             if (read_chunk_seconds(argument, settings.chunk_seconds)) return true;
                             std::fprintf(refusals,
                                          "korva_mpi : Unit length [--chunk=%s] is not an integer of 1 or more\n",
                                          argument);
                             return false;
                           }};
  const command_outcome outcome =
      read_command_line(argc, argv, settings.run, out, err, chunk, print_job_usage, print_job_version);
  if (outcome != command_outcome::run) return outcome;
  return read_environment(settings.run, err);
}

}  // namespace korva
