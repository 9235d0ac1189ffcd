// What one process correlates, resolved once from the schedule: the stations
// that take part, the station pairs (auto-pairs included) that get records,
// and the source of each stream.
#pragma once

#include <cstdint>

#include "schedule.h"

namespace korva {

struct process_plan {
  int32_t process_index = -1;
  bool takes_part[max_stations] = {};
  int32_t station_count = 0;        // stations taking part
  int32_t pair_count = 0;
  station_pair pairs[max_station_pairs] = {};  // first ascending, then second ascending
  int32_t stream_count = 0;
  int32_t stream_source[max_streams] = {};  // source index, or -1 when not in the table
};

// The plan of process process_index (0-based): a station takes part when it
// is in the station table and its code occurs in the process's station text;
// every pair of taking-part stations a <= b gets records; a stream's source
// is the process's own source, else the stream's.
process_plan resolve_process_plan(const schedule_tables& tables, int32_t process_index);

}  // namespace korva
