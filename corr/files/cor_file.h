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
#include "station_delay.h"

namespace korva {

inline constexpr uint32_t cor_magic = 0x3EA2F983u;  // bit pattern of float(1/pi)
inline constexpr int cor_file_header_bytes = 256;
inline constexpr int cor_record_header_bytes = 128;

// The open output files of the current process, indexed by first station,
// second station (first <= second) and stream. A non-null file is the sign
// that the pair is correlated for that stream.
struct cor_file_table {
  std::FILE* file[max_stations][max_stations][max_streams];
  char path[max_stations][max_stations][max_streams][256];  // for messages
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

// Creates every output file of the process and writes its header.
int32_t korva_open_cor_file(const process_info& process, const schedule_tables& tables,
                            const char* cor_dir, cor_file_table& files, message_buffer& message);

// Closes every output file of the process.
int32_t korva_close_cor_file(const process_info& process, const schedule_tables& tables,
                             const char* cor_dir, cor_file_table& files, message_buffer& message);

// Appends one record (header, then bins complex values) to file (a, b, stream).
int32_t korva_write_cor_record(cor_file_table& files, int a, int b, int stream,
                               const cor_record_header& header, const float* spectrum,
                               int32_t bins, message_buffer& message);

}  // namespace korva
