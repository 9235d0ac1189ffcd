// How much of each station's raw data a correlation found: a segment whose
// samples lie outside the station's mapped window is correlated as zeros
// (it still counts in the normalisation), so records of such seconds are
// partly or wholly empty. The run loop reports it instead of hiding it.
#pragma once

#include <cstdint>
#include <vector>

#include "schedule.h"

namespace korva {

struct station_coverage {
  int64_t segments = 0;                 // segments correlated, over every stream
  int64_t missing_segments = 0;         // of which outside the station's window
  std::vector<int32_t> missing_seconds; // UTC seconds with missing segments, ascending, each once
};

struct data_coverage {
  station_coverage station[max_stations];

  // Adds one period's counts of station s in second epoch.
  void add(int s, int32_t epoch, int64_t segments, int64_t missing);
  void clear();
};

// Consecutive seconds of a list as [first, last] runs.
struct second_run {
  int32_t first;
  int32_t last;
};
std::vector<second_run> second_runs(const std::vector<int32_t>& seconds);

}  // namespace korva
