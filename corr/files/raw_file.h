// Raw data files: one per station and process, named
// "<raw dir>/<station name>_<YYYYDDDHHMMSS>.raw", a headerless sequence of
// one-second blocks of little-endian 32-bit words. The correlator maps one
// window per station and second: the second with a 25 ms margin on both sides,
// widened to whole 4096-byte pages at the start and cut at the end of file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "message_buffer.h"
#include "schedule.h"

namespace korva {

// The open raw file of one station for the current process; fd -1 when the
// station does not take part.
struct raw_descriptor {
  int fd = -1;
};

// The mapped window of one station for the current second. A word with file
// index w lies inside when first_word <= w < first_word + word_count, at
// position w - first_word from base.
struct raw_window {
  const uint32_t* base = nullptr;  // null when the station has no window
  int64_t first_word = 0;
  int64_t word_count = 0;
  // Words of the file that any window can reach (its size lowered to a
  // whole page): a segment beyond them is missing from the file.
  int64_t file_words = 0;
};

using raw_descriptor_table = raw_descriptor[max_stations];
using raw_window_table = raw_window[max_stations];

// Windows start and end on multiples of this many bytes.
inline constexpr int64_t raw_page_bytes = 4096;

// Longest raw-file path in characters; a longer one is refused, never cut.
inline constexpr int raw_path_max_chars = 255;

// Byte range [start, end) of a raw file mapped for one second; empty or
// negative (end <= start) when the file does not reach the second.
struct raw_window_span {
  int64_t start;
  int64_t end;
};

// Window of the second that begins seconds_from_epoch seconds after the file's
// epoch: the second with a 25 ms margin on both sides (computed in extended
// precision), start and end lowered to whole pages, the end cut at file_size.
raw_window_span raw_window_bytes(int64_t seconds_from_epoch, uint32_t bytes_per_second,
                                 int64_t file_size);

// Bytes per second of every raw file: sample_rate * bits * channels / 8 in
// unsigned 32-bit arithmetic (the schedule keeps the product below 2^32).
uint32_t raw_bytes_per_second(const terminal_info& terminal);

// Writes "<raw dir>/<station name>_<YYYYDDDHHMMSS>.raw" for the UTC epoch into
// path (cut at capacity, always NUL-terminated) and returns the length of the
// whole path in characters, as snprintf does.
int raw_file_path(char* path, std::size_t capacity, const char* raw_dir,
                  const station_info& station, int32_t epoch);

// Opens the raw file of every station taking part in the process.
int32_t korva_open_raw_file(const process_info& process, const schedule_tables& tables,
                            const char* raw_dir, raw_descriptor_table& descriptors,
                            message_buffer& message);

// Closes the descriptors opened for the process.
int32_t korva_close_raw_file(const process_info& process, const schedule_tables& tables,
                             const char* raw_dir, raw_descriptor_table& descriptors,
                             message_buffer& message);

// Maps the window of UTC second t of every open raw file.
int32_t korva_mmap_raw_file(const process_info& process, const schedule_tables& tables,
                            const raw_descriptor_table& descriptors, raw_window_table& windows,
                            int32_t t, message_buffer& message);

// Unmaps every window mapped by korva_mmap_raw_file.
int32_t korva_umap_raw_file(const process_info& process, const schedule_tables& tables,
                            const raw_descriptor_table& descriptors, raw_window_table& windows,
                            int32_t t, message_buffer& message);

}  // namespace korva
