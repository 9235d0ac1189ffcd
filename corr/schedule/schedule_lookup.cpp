// Lookups in the schedule tables. Full-width text fields carry no NUL, so
// every comparison is bounded by the field width.
#include <cstring>

#include "schedule.h"

namespace korva {

int32_t find_source(const source_info* sources, const char* name, message_buffer& message) {
  constexpr std::size_t width = sizeof sources[0].name;
  for (int i = 0; i < max_sources && sources[i].name[0] != '\0'; ++i) {
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

int station_count(const schedule_tables& tables) {
  int i = 0;
  while (i < max_stations && tables.stations[i].name[0] != '\0') ++i;
  return i;
}

int stream_count(const schedule_tables& tables) {
  int i = 0;
  while (i < max_streams && tables.streams[i].name[0] != '\0') ++i;
  return i;
}

}  // namespace korva
