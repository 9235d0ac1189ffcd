// Schedule tables of a correlation run and the reader that fills them from the
// plain-text schedule file.
//
// The tables have fixed capacities. Text fields are NUL-padded character
// arrays; fields marked "full width" may be filled to their whole width and
// then carry no NUL, so every reader bounds its comparison by the field width.
// A table ends at its first empty record (empty name, process epoch 0) or at
// its capacity. After korva_read_schedule has returned, the tables are only
// read, by any number of threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "eop_record.h"
#include "message_buffer.h"
#include "recording_mode.h"

namespace korva {

inline constexpr int max_stations = 10;
inline constexpr int max_sources = 1000;
inline constexpr int max_processes = 1000;
inline constexpr int max_streams = 64;

// Recording mode of every raw file.
struct terminal_info {
  char name[16];        // up to 15 characters
  int32_t sample_rate;  // samples per second of each channel
  int32_t bits;         // bits per sample: 1 or 2
  int32_t channels;     // channels per raw word: 1, 2, 4, 8 or 16
};

struct station_code {
  char code[4];  // up to 3 characters
};

struct station_info {
  char name[16];  // up to 15 characters; first part of the raw-file names
  double x, y, z; // geocentric position, metres
};

struct station_clock {
  int32_t epoch;     // UTC second the polynomial refers to; 0 without a clock part
  int32_t zero;      // always 0
  double clock[5];   // offset (s) and its first four time derivatives
};

struct source_info {
  char name[16];  // up to 15 characters; lookups compare at most 16
  double ra;      // right ascension, radians, J2000
  double dec;     // declination, radians, J2000
};

struct process_info {
  int32_t epoch;      // UTC start second; 0 marks the end of the table
  int32_t length;     // seconds to correlate
  char source[16];    // full width allowed
  char stations[64];  // station codes one after another; full width allowed
};

struct stream_info {
  char name[16];          // full width allowed; empty ends the table
  char source[16];        // full width allowed
  double frequency;       // sky frequency, Hz
  int32_t channel;        // 1-based terminal channel
  int32_t fft_points;     // FFT length in samples, at most 65,536
  int32_t pp_per_second;  // parameter periods per second
};

// The recording mode the terminal record describes.
inline recording_mode terminal_mode(const terminal_info& terminal) {
  return {terminal.sample_rate, terminal.bits, terminal.channels};
}

// All tables of one run. Indices are the station, source, process and stream
// numbers used everywhere else.
struct schedule_tables {
  terminal_info terminal;
  station_code codes[max_stations];
  station_info stations[max_stations];
  station_clock clocks[max_stations];
  source_info sources[max_sources];
  process_info processes[max_processes];
  stream_info streams[max_streams];
  eop_record eop[max_eop_records];  // "$EOP" lines in time order; none: UTC stands in for UT1
};

// Reads the schedule file at path into the tables. Returns 1, or -1 with the
// failing line's message in the buffer.
int32_t korva_read_schedule(schedule_tables& tables, const char* path, message_buffer& message);

// Lines for standard error about a read schedule that is correlated as
// written but perhaps not as meant: a stream of 0 periods per second (its
// output files get no records), and a stream whose period is shorter than
// one FFT segment (records then share samples, and the output grows with the
// period rate). None for a schedule without processes.
std::vector<std::string> schedule_warnings(const schedule_tables& tables);

// Line handlers: each takes a whole line (keyword included, no newline).
// Return 1 or -1 with their message in the buffer.
int32_t append_station(schedule_tables& tables, const char* line, message_buffer& message);
int32_t append_source(schedule_tables& tables, const char* line, message_buffer& message);
int32_t append_process(schedule_tables& tables, const char* line, message_buffer& message);
int32_t append_stream(schedule_tables& tables, const char* line, message_buffer& message);
int32_t append_eop(schedule_tables& tables, const char* line, message_buffer& message);

// Refuses, once every line is read, a schedule with "$EOP" lines that do not
// cover every correlated second of every process for 4-point interpolation.
int32_t check_eop_coverage(const schedule_tables& tables, message_buffer& message);

// Index (0..999) of the first source whose name equals name in its first 16
// characters, or -1. Writes the found or not-found message.
int32_t find_source(const source_info* sources, const char* name, message_buffer& message);

// Index of the source of a stream within a process: the process's own source,
// else the stream's; -1 when neither is in the table. Leaves find_source's
// message of the last lookup in the buffer.
int32_t find_stream_source(const schedule_tables& tables, const process_info& process,
                           const stream_info& stream, message_buffer& message);

// A fixed-width text field (which may fill its width without a NUL) as a
// NUL-terminated string.
template <std::size_t width>
struct field_text {
  explicit field_text(const char (&field)[width]) {
    std::memcpy(text, field, width);
    text[width] = '\0';
  }
  char text[width + 1];
};

// Whether station i takes part in the process: its code occurs as a substring
// of the process's 64-character station text.
bool station_takes_part(const schedule_tables& tables, const process_info& process, int station);

// Where each table ends: the number of records before the first empty one
// (an empty station, source or stream name, a process epoch of 0), or the
// table's capacity. Every walk over a table stops there.
int station_count(const schedule_tables& tables);
int source_count(const source_info* sources);  // a table of max_sources records
int source_count(const schedule_tables& tables);
int process_count(const schedule_tables& tables);
int stream_count(const schedule_tables& tables);

// The stations taking part in the process, in station order, written into
// stations; returns how many there are.
int taking_part_stations(const schedule_tables& tables, const process_info& process,
                         int (&stations)[max_stations]);

// A pair of station numbers, first <= second (an auto-pair has both equal).
struct station_pair {
  int first;
  int second;
};
inline constexpr int max_station_pairs = max_stations * (max_stations + 1) / 2;

// Every pair of stations taking part in the process, auto-pairs included, in
// the order first station, then second station; returns how many there are.
int taking_part_pairs(const schedule_tables& tables, const process_info& process,
                      station_pair (&pairs)[max_station_pairs]);

}  // namespace korva
