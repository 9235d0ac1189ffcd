// Raw data files of the correlator: naming, opening and closing per process,
// mapping a window of every station's file per second.
#include "raw_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <span>

#include "epoch_text.h"

namespace korva {

namespace {

// Margin before and after each second covered by a window, in seconds; enough
// for every station delay of the delay model.
constexpr long double window_margin_seconds = 0.025L;

// Beyond any real file size; keeps the conversion to int64_t defined.
constexpr long double window_byte_ceiling = 0x1p62L;

// Largest multiple of raw_page_bytes at or below bytes (floor, also below 0).
int64_t lower_to_page(int64_t bytes) {
  int64_t remainder = bytes % raw_page_bytes;
  if (remainder < 0) remainder += raw_page_bytes;
  return bytes - remainder;
}

// Truncates towards zero into the range of int64_t.
int64_t truncate_bytes(long double bytes) {
  if (bytes >= window_byte_ceiling) return static_cast<int64_t>(window_byte_ceiling);
  if (bytes <= -window_byte_ceiling) return -static_cast<int64_t>(window_byte_ceiling);
  return static_cast<int64_t>(bytes);
}

}  // namespace

raw_window_span raw_window_bytes(int64_t seconds_from_epoch, uint32_t bytes_per_second,
                                 int64_t file_size) {
  const long double rate = bytes_per_second;
  const long double x = (static_cast<long double>(seconds_from_epoch) - window_margin_seconds) * rate;
  long double y = (static_cast<long double>(seconds_from_epoch + 1) + window_margin_seconds) * rate;
  if (static_cast<long double>(file_size) <= y) y = static_cast<long double>(file_size);

  const int64_t start = x <= 0.0L ? 0 : lower_to_page(truncate_bytes(x));
  const int64_t end = lower_to_page(truncate_bytes(y));
  return {start, end};
}

uint32_t raw_bytes_per_second(const terminal_info& terminal) {
  return static_cast<uint32_t>(bytes_per_second(terminal_mode(terminal)));
}

int raw_file_path(char* path, std::size_t capacity, const char* raw_dir,
                  const station_info& station, int32_t epoch) {
  const int name_length = static_cast<int>(strnlen(station.name, sizeof station.name));
  return std::snprintf(path, capacity, "%s/%.*s_%s.raw", raw_dir, name_length, station.name,
                       compact_epoch_text(epoch).text);
}

int32_t korva_open_raw_file(const process_info& process, const schedule_tables& tables,
                            const char* raw_dir, raw_descriptor_table& descriptors,
                            message_buffer& message) {
  for (raw_descriptor& descriptor : descriptors) descriptor.fd = -1;

  int stations[max_stations];
  const int count = taking_part_stations(tables, process, stations);
  for (const int i : std::span(stations, count)) {
    char path[message_capacity];
    const int length = raw_file_path(path, sizeof path, raw_dir, tables.stations[i], process.epoch);
    if (length > raw_path_max_chars) {
      write_message(message, "korva_open_raw_file : Too long path of the raw-file[%s]", path);
      return -1;
    }
    // Without O_NONBLOCK a FIFO would wait for a writer for ever.
    const int fd = open(path, O_RDONLY | O_LARGEFILE | O_NONBLOCK);
    if (fd < 0) {
      write_message(message, "korva_open_raw_file : Can't open the raw-file[%s]", path);
      return -1;
    }
    descriptors[i].fd = fd;
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
      write_message(message, "korva_open_raw_file : The raw-file[%s] is not a regular file", path);
      return -1;  // the descriptor is closed with the others
    }
  }
  write_message(message, "korva_open_raw_file : All raw-files have been opened");
  return 1;
}

int32_t korva_close_raw_file(const process_info& process, const schedule_tables& tables,
                             const char* /*raw_dir*/, raw_descriptor_table& descriptors,
                             message_buffer& message) {
  int stations[max_stations];
  const int count = taking_part_stations(tables, process, stations);
  for (const int i : std::span(stations, count)) {
    if (descriptors[i].fd < 0) continue;
    close(descriptors[i].fd);  // nothing was written, so a failed close loses nothing
    descriptors[i].fd = -1;
  }
  write_message(message, "korva_open_raw_file : All raw-files have been closed");
  return 1;
}

int32_t korva_mmap_raw_file(const process_info& process, const schedule_tables& tables,
                            const raw_descriptor_table& descriptors, raw_window_table& windows,
                            int32_t t, message_buffer& message) {
  for (raw_window& window : windows) window = raw_window{};

  const uint32_t bytes_per_second = raw_bytes_per_second(tables.terminal);
  const int64_t seconds_from_epoch = static_cast<int64_t>(t) - process.epoch;
  for (int i = 0; i < max_stations; ++i) {
    if (descriptors[i].fd < 0) continue;
    const station_info& station = tables.stations[i];
    const int name_length = static_cast<int>(strnlen(station.name, sizeof station.name));

    struct stat status {};
    if (fstat(descriptors[i].fd, &status) != 0) {
      write_message(message, "korva_mmap_raw_file: Can't read the size of the raw-file[%.*s]",
                    name_length, station.name);
      return -1;
    }
    const raw_window_span span = raw_window_bytes(seconds_from_epoch, bytes_per_second,
                                                  static_cast<int64_t>(status.st_size));
    void* base = MAP_FAILED;
    if (span.end > span.start) {
      base = mmap(nullptr, static_cast<std::size_t>(span.end - span.start), PROT_READ, MAP_SHARED,
                  descriptors[i].fd, static_cast<off_t>(span.start));
    }
    if (base == MAP_FAILED) {
      write_message(message, "korva_mmap_raw_file: Can't mmap the raw-file[%.*s: <%016" PRId64
                    ":%016" PRId64 ">]", name_length, station.name, span.start, span.end);
      return -1;
    }
    madvise(base, static_cast<std::size_t>(span.end - span.start), MADV_SEQUENTIAL);
    windows[i].base = static_cast<const uint32_t*>(base);
    windows[i].first_word = span.start / 4;
    windows[i].word_count = (span.end - span.start) / 4;
    windows[i].file_words = lower_to_page(static_cast<int64_t>(status.st_size)) / 4;
  }
  write_message(message, "korva_mmap_raw_file: All raw-file have been mapped");
  return 1;
}

int32_t korva_umap_raw_file(const process_info& /*process*/, const schedule_tables& /*tables*/,
                            const raw_descriptor_table& /*descriptors*/, raw_window_table& windows,
                            int32_t /*t*/, message_buffer& message) {
  for (raw_window& window : windows) {
    if (window.base == nullptr) continue;
    munmap(const_cast<uint32_t*>(window.base), static_cast<std::size_t>(window.word_count) * 4u);
    window = raw_window{};
  }
  write_message(message, "korva_umap_raw_file: All raw-file have been unmapped");
  return 1;
}

}  // namespace korva
