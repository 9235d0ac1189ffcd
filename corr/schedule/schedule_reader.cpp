// korva_read_schedule: reads the schedule file line by line into the tables,
// then checks that the terminal mode and the streams can be correlated.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "schedule.h"
#include "schedule_checks.h"
#include "schedule_words.h"

namespace korva {

namespace {

constexpr std::string_view terminal_keyword = "$Terminal";
constexpr int line_capacity = schedule_line_capacity;

// What the reader keeps of the lines it has read, for the checks made after
// the whole file (lines come in any order) and for quoting them.
struct reader_state {
  int sources = 0, stations = 0, processes = 0, streams = 0;
  bool terminal_seen = false;
  bool rate_fits = true;  // whether the last terminal rate fitted in 32 bits
  char terminal_line[line_capacity] = {};
  stream_line_table stream_line = {};
  process_line_table process_line = {};
};

void clear_tables(schedule_tables& tables) {
  std::memset(tables.stations, 0, sizeof tables.stations);
  std::memset(tables.processes, 0, sizeof tables.processes);
  std::memset(tables.sources, 0, sizeof tables.sources);
  std::memset(tables.streams, 0, sizeof tables.streams);
  std::memset(tables.eop, 0, sizeof tables.eop);
}

// "$Terminal <name> <rate>Msps/<bits>bit/<channels>ch"; the rate is stored in
// samples per second.
int32_t read_terminal_line(schedule_tables& tables, const char* line, reader_state& state,
                           message_buffer& message) {
  const word_list words = split_words(std::string_view(line + terminal_keyword.size()));
  char name[sizeof tables.terminal.name];
  int64_t msps = 0;
  int32_t bits = 0, channels = 0;
  if (words.count < 2 || !copy_field(words.word[0], name, sizeof name, false) ||
      !parse_terminal_mode(words.word[1], msps, bits, channels)) {
    write_message(message, "korva_read_schedule: Syntax Error in terminal-info [%s]", line);
    return -1;
  }
  const int64_t rate = msps * 1000000;
  std::memcpy(tables.terminal.name, name, sizeof name);
  state.rate_fits = rate <= INT32_MAX;
  tables.terminal.sample_rate = state.rate_fits ? static_cast<int32_t>(rate) : 0;
  tables.terminal.bits = bits;
  tables.terminal.channels = channels;
  state.terminal_seen = true;
  std::snprintf(state.terminal_line, sizeof state.terminal_line, "%s", line);
  return 1;
}

int32_t check_terminal(const terminal_info& terminal, const reader_state& state, const char* path,
                       message_buffer& message) {
  const char* line = state.terminal_line;
  if (!state.terminal_seen && !has_sample_decoder(terminal.bits, terminal.channels)) {
    write_message(message, "korva_read_schedule: No terminal-info in the schedule-file[%s]", path);
    return -1;
  }
  if (!has_sample_decoder(terminal.bits, terminal.channels)) {
    write_message(message,
                  "korva_read_schedule: No sample decoder for %dbit/%dch in terminal-info [%s]",
                  terminal.bits, terminal.channels, line);
    return -1;
  }
  if (!state.rate_fits) {
    write_message(message, "korva_read_schedule: Sample rate in terminal-info [%s] is over than %dMsps",
                  line, INT32_MAX / 1000000);
    return -1;
  }
  if (terminal.sample_rate <= 0) {
    write_message(message, "korva_read_schedule: Sample rate in terminal-info [%s] is not positive", line);
    return -1;
  }
  const int64_t bit_rate = bits_per_second(terminal_mode(terminal));
  if (bit_rate >= (int64_t{1} << 32)) {
    write_message(message,
                  "korva_read_schedule: Bit rate[%lld] of terminal-info [%s] is not below 2^32",
                  static_cast<long long>(bit_rate), line);
    return -1;
  }
  return 1;
}

// Checks one stream against the correlatable-stream rule; its faults of the
// terminal mode are the terminal's, reported by check_terminal.
int32_t check_stream_line(const terminal_info& terminal, const stream_info& stream, const char* line,
                          const reader_state& state, const char* path, message_buffer& message) {
  switch (check_stream(terminal_mode(terminal), stream.channel, stream.fft_points)) {
    case stream_fault::none:
      return 1;
    case stream_fault::no_decoder:
    case stream_fault::sample_rate:
      return check_terminal(terminal, state, path, message);
    case stream_fault::channel:
      write_message(message, "korva_read_schedule: Channel[%d] of stream-info [%s] is outside 1..%d",
                    stream.channel, line, terminal.channels);
      return -1;
    case stream_fault::fft_points:
      break;
  }
  // Segments start on whole words and the spectrum kernels work on blocks
  // of two complex bins.
  const int32_t per_word = samples_per_word(terminal.bits, terminal.channels);
  write_message(message,
                "korva_read_schedule: Number of the FFT-Point[%d] of stream-info [%s] is not a "
                "positive multiple of %d",
                stream.fft_points, line, per_word > 4 ? per_word : 4);
  return -1;
}

// Checks, once every line is read, what the correlation needs of the terminal
// mode and the streams. A schedule without processes and streams needs none.
int32_t check_schedule(const schedule_tables& tables, const reader_state& state, const char* path,
                       message_buffer& message) {
  if (state.processes == 0 && state.streams == 0) return 1;
  if (check_terminal(tables.terminal, state, path, message) < 0) return -1;
  for (int s = 0; s < state.streams; ++s) {
    if (check_stream_line(tables.terminal, tables.streams[s], state.stream_line[s], state, path, message) < 0)
      return -1;
  }
  return 1;
}

// Hands one line to its handler unless its table is full; counts handled lines.
int32_t read_line(schedule_tables& tables, char* line, reader_state& state, message_buffer& message) {
  if (char* newline = std::strchr(line, '\n')) *newline = '\0';
  if (starts_with_keyword(line, "$Source") && state.sources < max_sources) {
    if (append_source(tables, line, message) < 0) return -1;
    ++state.sources;
  }
  if (starts_with_keyword(line, "$Station") && state.stations < max_stations) {
    if (append_station(tables, line, message) < 0) return -1;
    ++state.stations;
  }
  if (starts_with_keyword(line, "$Process") && state.processes < max_processes) {
    if (append_process(tables, line, message) < 0) return -1;
    std::snprintf(state.process_line[state.processes], line_capacity, "%s", line);
    ++state.processes;
  }
  if (starts_with_keyword(line, "$Stream") && state.streams < max_streams) {
    if (append_stream(tables, line, message) < 0) return -1;
    std::snprintf(state.stream_line[state.streams], line_capacity, "%s", line);
    ++state.streams;
  }
  if (starts_with_keyword(line, "$EOP") && append_eop(tables, line, message) < 0) return -1;
  if (starts_with_keyword(line, terminal_keyword)) {
    if (read_terminal_line(tables, line, state, message) < 0) return -1;
  }
  return 1;
}

}  // namespace

int32_t korva_read_schedule(schedule_tables& tables, const char* path, message_buffer& message) {
  clear_tables(tables);
  std::FILE* file = std::fopen(path, "r");
  if (file == nullptr) {
    write_message(message, "korva_read_schedule: Can't open the schedule-file[%s]", path);
    return -1;
  }
  const auto state = std::make_unique<reader_state>();  // 272 KiB of kept lines
  // A line longer than 255 characters arrives in parts, each read as a line.
  char line[line_capacity];
  int32_t status = 1;
  while (status > 0 && std::fgets(line, sizeof line, file) != nullptr) {
    status = read_line(tables, line, *state, message);
  }
  // A directory, or a file that fails part-way, is no schedule: reading it as
  // a shorter one would correlate less than asked, silently.
  const int read_error = status > 0 && std::ferror(file) ? (errno != 0 ? errno : EIO) : 0;
  std::fclose(file);
  if (status < 0) return -1;
  if (read_error != 0) {
    write_message(message, "korva_read_schedule: Can't read the schedule-file[%s] to its end (%s)", path,
                  std::strerror(read_error));
    return -1;
  }
  if (check_schedule(tables, *state, path, message) < 0) return -1;
  if (check_processes(tables, state->process_line, state->stream_line, message) < 0) return -1;
  if (check_eop_coverage(tables, message) < 0) return -1;
  write_message(message, "korva_read_schedule: Schedule_File[%s] Reading Success", path);
  return 1;
}

}  // namespace korva
