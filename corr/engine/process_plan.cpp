#include "process_plan.h"

namespace korva {

process_plan resolve_process_plan(const schedule_tables& tables, int32_t process_index) {
  process_plan plan;
  plan.process_index = process_index;
  const process_info& process = tables.processes[process_index];
  int stations[max_stations];
  plan.station_count = taking_part_stations(tables, process, stations);
  for (int i = 0; i < plan.station_count; ++i) plan.takes_part[stations[i]] = true;
  plan.pair_count = taking_part_pairs(tables, process, plan.pairs);
  plan.stream_count = stream_count(tables);
  message_buffer ignored;
  for (int s = 0; s < plan.stream_count; ++s) {
    plan.stream_source[s] = find_stream_source(tables, process, tables.streams[s], ignored);
  }
  return plan;
}

}  // namespace korva
