// Correlation output files: one per station pair (auto-pairs included) and
// stream of a process, named
// "<cor dir>/<first station>_<second station>_<YYYYDDDHHMMSS>_<stream>.cor".
// A 256-byte header, then one record per parameter period: a 128-byte record
// header and fft_points/2 complex float bins. Every field is little-endian at
// a fixed offset.
#pragma once

#include <cstdint>
#include <cstdio>

#include "message_buffer.h"
#include "schedule.h"
#include "delay_record.h"

namespace korva {

inline constexpr uint32_t cor_magic = 0x3EA2F983u;  // bit pattern of float(1/pi)
inline constexpr int cor_file_header_bytes = 256;
inline constexpr int cor_record_header_bytes = 128;
inline constexpr int cor_path_capacity = 256;  // paths must fit in 255 characters

// The open output files of the current process, indexed by first station,
// second station (first <= second) and stream. A non-null file is the sign
// that the pair is correlated for that stream.
struct cor_file_table {
  std::FILE* file[max_stations][max_stations][max_streams];
  char path[max_stations][max_stations][max_streams][cor_path_capacity];  // for messages
};

// Time span and delay models of one parameter period.
struct cor_record_header {
  int32_t start_second;
  int32_t start_nanoseconds;
  int32_t end_second;
  int32_t end_nanoseconds;
  station_delay first;
  station_delay second;
  float period_length;
};

// Creates every output file of the process and writes its header. Files are
// created in the order first station, second station, stream; an existing
// file of the same name is replaced. The header's source is the process's
// source, else the stream's own source (looked up with find_source).
// Returns 1, or -1 with the message in the buffer.
int32_t korva_open_cor_file(const process_info& process, const schedule_tables& tables,
                            const char* cor_dir, cor_file_table& files, message_buffer& message);

// Closes every output file of the process and empties its table entries.
// Returns 1, or -1 with a message naming the first file whose close (final
// flush) failed; every file is closed either way.
int32_t korva_close_cor_file(const process_info& process, const schedule_tables& tables,
                             const char* cor_dir, cor_file_table& files, message_buffer& message);

// Appends one record (header, then bins complex values) to file (a, b, stream).
// Returns 1, or -1 with a message naming the file when the write fails.
int32_t korva_write_cor_record(const cor_file_table& files, int a, int b, int stream,
                               const cor_record_header& header, const float* spectrum,
                               int32_t bins, message_buffer& message);

// Start and end time of period p of second t with pp_per_second periods:
// nanoseconds p * 1e9 / pp and (p + 1) * 1e9 / pp, truncated; an end of
// exactly 1e9 is stored as (t + 1, 0). Sets period_length to float(1.0 / pp).
void set_period_times(cor_record_header& header, int32_t t, int32_t period, int32_t pp_per_second);

}  // namespace korva
