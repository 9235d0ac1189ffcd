// Checks of every process once the whole schedule is read, so that a process
// that cannot run, or would overwrite output files, is refused before the
// run writes anything.
#include "schedule_checks.h"

#include <cstring>

namespace korva {

namespace {

bool same_station_name(const station_info& a, const station_info& b) {
  return std::strncmp(a.name, b.name, sizeof a.name) == 0;
}

// The first pair of taking-part stations of the process that carry the same
// name (their output files and raw files would have one name), or -1.
int station_named_twice(const schedule_tables& tables, const process_info& process) {
  int stations[max_stations];
  const int count = taking_part_stations(tables, process, stations);
  for (int i = 0; i < count; ++i) {
    for (int j = 0; j < i; ++j) {
      if (same_station_name(tables.stations[stations[i]], tables.stations[stations[j]])) return stations[i];
    }
  }
  return -1;
}

// Whether two processes of the same start second take part with a station of
// the same name: the auto-pair files of that name would be written by both.
bool share_output_files(const schedule_tables& tables, const process_info& p, const process_info& q) {
  if (p.epoch != q.epoch) return false;
  int in_p[max_stations], in_q[max_stations];
  const int count_p = taking_part_stations(tables, p, in_p);
  const int count_q = taking_part_stations(tables, q, in_q);
  for (int i = 0; i < count_p; ++i) {
    for (int j = 0; j < count_q; ++j) {
      if (same_station_name(tables.stations[in_p[i]], tables.stations[in_q[j]])) return true;
    }
  }
  return false;
}

// Every stream goes into every process: two streams of one name would write
// the same output files.
int32_t check_stream_names(const schedule_tables& tables, const stream_line_table& lines, message_buffer& message) {
  const int streams = stream_count(tables);
  for (int s = 0; s < streams; ++s) {
    for (int r = 0; r < s; ++r) {
      if (std::strncmp(tables.streams[r].name, tables.streams[s].name, sizeof tables.streams[s].name) != 0) continue;
      write_message(message,
                    "korva_read_schedule: Name of stream-info [%s] is used twice: its cor-files would overwrite "
                    "each other",
                    lines[s]);
      return -1;
    }
  }
  return 1;
}

// What process p needs of the station, source and stream tables.
int32_t check_process_tables(const schedule_tables& tables, int p, const process_line_table& process_lines,
                             const stream_line_table& stream_lines, message_buffer& message) {
  const process_info& process = tables.processes[p];
  int stations[max_stations];
  if (taking_part_stations(tables, process, stations) == 0) {
    write_message(message, "korva_read_schedule: Stations[%s] of process-info [%s] match no station-info",
                  field_text(process.stations).text, process_lines[p]);
    return -1;
  }
  const int streams = stream_count(tables);
  for (int s = 0; s < streams; ++s) {
    // Neither source found: find_source's message names the stream's source.
    if (find_stream_source(tables, process, tables.streams[s], message) < 0) return -1;
    const int64_t records = int64_t{tables.streams[s].pp_per_second} * process.length;
    if (records > INT32_MAX) {
      write_message(message,
                    "korva_read_schedule: Record count[%lld] of stream-info [%s] in process-info [%s] is over "
                    "than %d",
                    static_cast<long long>(records), stream_lines[s], process_lines[p], INT32_MAX);
      return -1;
    }
  }
  return 1;
}

// Whether process p writes an output file that it writes twice or that an
// earlier process writes too (only processes with streams write files).
int32_t check_process_outputs(const schedule_tables& tables, int p, const process_line_table& lines,
                              message_buffer& message) {
  const process_info& process = tables.processes[p];
  const int twice = station_named_twice(tables, process);
  if (twice >= 0) {
    write_message(message,
                  "korva_read_schedule: Process-info [%s] takes two stations named [%s]: their cor-files would "
                  "overwrite each other",
                  lines[p], tables.stations[twice].name);
    return -1;
  }
  for (int q = 0; q < p; ++q) {
    if (!share_output_files(tables, process, tables.processes[q])) continue;
    write_message(message, "korva_read_schedule: Process-info [%s] would overwrite the cor-files of process-info [%s]",
                  lines[p], lines[q]);
    return -1;
  }
  return 1;
}

}  // namespace

int32_t check_processes(const schedule_tables& tables, const process_line_table& process_lines,
                        const stream_line_table& stream_lines, message_buffer& message) {
  const int processes = process_count(tables);
  if (processes == 0) return 1;
  const bool writes_files = stream_count(tables) > 0;
  if (writes_files && check_stream_names(tables, stream_lines, message) < 0) return -1;
  for (int p = 0; p < processes; ++p) {
    if (check_process_tables(tables, p, process_lines, stream_lines, message) < 0) return -1;
    if (writes_files && check_process_outputs(tables, p, process_lines, message) < 0) return -1;
  }
  return 1;
}

}  // namespace korva
