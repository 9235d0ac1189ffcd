#include "data_coverage.h"

namespace korva {

void data_coverage::add(int s, int32_t epoch, int64_t segments, int64_t missing) {
  station_coverage& c = station[s];
  c.segments += segments;
  c.missing_segments += missing;
  // Seconds arrive in ascending order, every stream of a second together.
  if (missing > 0 && (c.missing_seconds.empty() || c.missing_seconds.back() != epoch))
    c.missing_seconds.push_back(epoch);
}

void data_coverage::clear() {
  for (station_coverage& c : station) c = station_coverage{};
}

std::vector<second_run> second_runs(const std::vector<int32_t>& seconds) {
  std::vector<second_run> runs;
  for (const int32_t t : seconds) {
    if (!runs.empty() && int64_t{runs.back().last} + 1 == t) {
      runs.back().last = t;
    } else {
      runs.push_back({t, t});
    }
  }
  return runs;
}

}  // namespace korva
