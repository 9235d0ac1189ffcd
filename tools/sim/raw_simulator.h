// Writes the raw files of one process: for every station taking part, one
// file "<raw dir>/<station name>_<YYYYDDDHHMMSS>.raw" named after the process
// epoch, one block of sample_rate x bits x channels / 8 bytes per second, in
// the terminal's bit and channel layout.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "schedule.h"

namespace korva::sim {

struct simulation_options {
  int32_t process_number = 1;  // 1-based, in schedule order
  std::string raw_dir = ".";
  uint64_t seed = 1;
  double correlation = 0.5;  // correlation coefficient of the common signal, 0..1
  bool with_clock = true;    // false: the schedule's clocks stay out of the data
  int threads = 2;           // stations simulated at the same time; output does not depend on it
};

struct simulated_file {
  std::string path;
  std::string station;
  int64_t bytes = 0;
  double start_delay = 0.0;  // seconds, at the process epoch
  double start_rate = 0.0;   // seconds per second
};

// Whether every stream that carries the sky signal fits the terminal, and
// which sky frequency each 1-based channel carries (0 for noise only).
// Returns false with a one-line message.
bool plan_channels(const schedule_tables& tables, std::vector<double>& channel_frequency,
                   std::vector<std::string>& warnings, std::string& error);

// Simulates and writes every raw file of the process. Returns false with a
// one-line message; files already written stay.
bool simulate_process(const schedule_tables& tables, const simulation_options& options,
                      std::vector<simulated_file>& written, std::vector<std::string>& warnings,
                      std::string& error);

}  // namespace korva::sim
