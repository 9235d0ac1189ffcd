// Lookups in the schedule tables. Full-width text fields carry no NUL, so
// every comparison is bounded by the field width.
#include <cstring>

#include "schedule.h"

namespace korva {

int32_t find_source(const source_info* sources, const char* name, message_buffer& message) {
  constexpr std::size_t width = sizeof sources[0].name;
  const int count = source_count(sources);
  for (int i = 0; i < count; ++i) {
    if (std::strncmp(sources[i].name, name, width) == 0) {
      write_message(message, "find_source: Found the source-info[%.16s]", name);
      return i;
    }
  }
  write_message(message, "find_source: Not found the source-info[%.16s]", name);
  return -1;
}

int32_t find_stream_source(const schedule_tables& tables, const process_info& process,
                           const stream_info& stream, message_buffer& message) {
  const int32_t index = find_source(tables.sources, field_text(process.source).text, message);
  if (index >= 0) return index;
  return find_source(tables.sources, field_text(stream.source).text, message);
}

bool station_takes_part(const schedule_tables& tables, const process_info& process, int station) {
  if (station < 0 || station >= max_stations) return false;
  const char* code = tables.codes[station].code;
  const std::size_t code_length = strnlen(code, sizeof tables.codes[station].code);
  const std::size_t text_length = strnlen(process.stations, sizeof process.stations);
  if (code_length == 0 || code_length > text_length) return false;
  for (std::size_t at = 0; at + code_length <= text_length; ++at) {
    if (std::memcmp(process.stations + at, code, code_length) == 0) return true;
  }
  return false;
}

int taking_part_stations(const schedule_tables& tables, const process_info& process,
                         int (&stations)[max_stations]) {
  int count = 0;
  const int table_end = station_count(tables);
  for (int i = 0; i < table_end; ++i) {
    if (station_takes_part(tables, process, i)) stations[count++] = i;
  }
  return count;
}

int taking_part_pairs(const schedule_tables& tables, const process_info& process,
                      station_pair (&pairs)[max_station_pairs]) {
  int stations[max_stations];
  const int count = taking_part_stations(tables, process, stations);
  int pair_count = 0;
  for (int i = 0; i < count; ++i) {
    for (int j = i; j < count; ++j) pairs[pair_count++] = {stations[i], stations[j]};
  }
  return pair_count;
}

namespace {

// The record that ends each table.
bool is_empty_record(const station_info& r) { return r.name[0] == '\0'; }
bool is_empty_record(const source_info& r) { return r.name[0] == '\0'; }
bool is_empty_record(const process_info& r) { return r.epoch == 0; }
bool is_empty_record(const stream_info& r) { return r.name[0] == '\0'; }

template <typename Record>
int records_before_empty(const Record* table, int capacity) {
  int i = 0;
  while (i < capacity && !is_empty_record(table[i])) ++i;
  return i;
}

}  // namespace

int station_count(const schedule_tables& tables) { return records_before_empty(tables.stations, max_stations); }
int source_count(const source_info* sources) { return records_before_empty(sources, max_sources); }
int source_count(const schedule_tables& tables) { return source_count(tables.sources); }
int process_count(const schedule_tables& tables) { return records_before_empty(tables.processes, max_processes); }
int stream_count(const schedule_tables& tables) { return records_before_empty(tables.streams, max_streams); }

}  // namespace korva
