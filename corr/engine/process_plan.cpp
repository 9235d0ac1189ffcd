#include "process_plan.h"

namespace korva {

process_plan resolve_process_plan(const schedule_tables& tables, int32_t process_index) {
  process_plan plan;
  plan.process_index = process_index;
  const process_info& process = tables.processes[process_index];
  const int stations = station_count(tables);
  for (int i = 0; i < stations; ++i) {
    plan.takes_part[i] = station_takes_part(tables, process, i);
    if (plan.takes_part[i]) ++plan.station_count;
  }
  for (int a = 0; a < max_stations; ++a) {
    for (int b = a; b < max_stations; ++b) {
      if (plan.takes_part[a] && plan.takes_part[b]) plan.pairs[plan.pair_count++] = {a, b};
    }
  }
  plan.stream_count = stream_count(tables);
  message_buffer ignored;
  for (int s = 0; s < plan.stream_count; ++s) {
    plan.stream_source[s] = find_stream_source(tables, process, tables.streams[s], ignored);
  }
  return plan;
}

}  // namespace korva
