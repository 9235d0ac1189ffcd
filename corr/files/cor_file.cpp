#include "cor_file.h"

#include <bit>
#include <cstring>
#include <string>
#include <unordered_set>

#include "epoch_text.h"

namespace korva {

static_assert(std::endian::native == std::endian::little,
              "fields are copied byte for byte as little-endian values");
static_assert(sizeof(float) == 4 && sizeof(double) == 8);

namespace {

// Stores one scalar at its byte offset of a header block.
template <typename T>
void put(unsigned char* block, int offset, T value) {
  std::memcpy(block + offset, &value, sizeof value);
}

// Copies a fixed-width text field byte for byte (NUL padding included).
void put_text(unsigned char* block, int offset, const char* text, std::size_t width) {
  std::memcpy(block + offset, text, width);
}

// 48-byte station record: name, x, y, z, 8 reserved bytes.
void put_station(unsigned char* block, int offset, const station_info& station) {
  put_text(block, offset, station.name, sizeof station.name);
  put(block, offset + 16, station.x);
  put(block, offset + 24, station.y);
  put(block, offset + 32, station.z);
  std::memset(block + offset + 40, 0, 8);
}

// 32-byte source record: name, ra, dec.
void put_source(unsigned char* block, int offset, const source_info& source) {
  put_text(block, offset, source.name, sizeof source.name);
  put(block, offset + 16, source.ra);
  put(block, offset + 24, source.dec);
}

// 48-byte delay record: epoch, 4 zero bytes, delay and four derivatives.
void put_delay(unsigned char* block, int offset, const station_delay& delay) {
  put(block, offset, delay.epoch);
  put(block, offset + 4, int32_t{0});
  for (int k = 0; k < 5; ++k) put(block, offset + 8 + 8 * k, delay.delay[k]);
}

// Fills the 256-byte file header (reserved bytes stay as given: zero).
void fill_file_header(unsigned char* block, const process_info& process, const stream_info& stream,
                      const schedule_tables& tables, int a, int b, const source_info& source) {
  put(block, 0, cor_magic);
  put(block, 4, int32_t{0x01000000});
  put(block, 8, int32_t{0x01000000});
  put(block, 12, tables.terminal.sample_rate);
  put(block, 16, stream.frequency);
  put(block, 24, stream.fft_points);
  // 32-bit product as the format defines it; wraps instead of overflowing.
  uint32_t records = static_cast<uint32_t>(stream.pp_per_second) * static_cast<uint32_t>(process.length);
  put(block, 28, static_cast<int32_t>(records));
  put_station(block, 32, tables.stations[a]);
  put_station(block, 80, tables.stations[b]);
  put_source(block, 128, source);
}

bool writes_fully(std::FILE* file, const void* data, std::size_t bytes) {
  return std::fwrite(data, 1, bytes, file) == bytes;
}

// What every output file of one process shares while they are created.
struct process_files {
  const process_info& process;
  const schedule_tables& tables;
  const char* cor_dir;
  epoch_text epoch;                     // of the process, for the file names
  std::unordered_set<std::string> paths;  // two handles on one file would corrupt it
};

// "<cor dir>/<first>_<second>_<YYYYDDDHHMMSS>_<stream>.cor"
std::string cor_file_path(const process_files& run, int a, int b, const stream_info& stream) {
  const station_info* stations = run.tables.stations;
  return std::string(run.cor_dir) + "/" + field_text(stations[a].name).text + "_" +
         field_text(stations[b].name).text + "_" + run.epoch.text + "_" + field_text(stream.name).text + ".cor";
}

// Creates the file of stations a and b and stream s, stores its handle and
// writes its header. A file whose source cannot be found stays open and empty.
int32_t create_cor_file(process_files& run, int a, int b, int s, cor_file_table& files,
                        message_buffer& message) {
  const stream_info& stream = run.tables.streams[s];
  const std::string path = cor_file_path(run, a, b, stream);
  if (path.size() >= cor_path_capacity) {
    write_message(message, "korva_open_cor_file: Can't create cor-file[%s] (path too long)", path.c_str());
    return -1;
  }
  if (!run.paths.insert(path).second) {
    write_message(message, "korva_open_cor_file: Can't create cor-file[%s] (name used twice)", path.c_str());
    return -1;
  }
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) {
    write_message(message, "korva_open_cor_file: Can't create cor-file[%s]", path.c_str());
    return -1;
  }
  files.file[a][b][s] = file;
  std::memcpy(files.path[a][b][s], path.c_str(), path.size() + 1);

  const int32_t source = find_stream_source(run.tables, run.process, stream, message);
  if (source < 0) return -1;

  unsigned char header[cor_file_header_bytes] = {};
  fill_file_header(header, run.process, stream, run.tables, a, b, run.tables.sources[source]);
  if (!writes_fully(file, header, sizeof header)) {
    write_message(message, "korva_open_cor_file: Can't write cor-file[%s]", files.path[a][b][s]);
    return -1;
  }
  return 1;
}

// Closes an open file (a null entry is left alone) and empties its entry, as a
// closed handle is never used again. False when the final flush or an earlier
// write failed: a failed write leaves the error flag, which fclose alone may
// not report.
bool close_cor_file(std::FILE*& file) {
  if (file == nullptr) return true;
  const bool write_failed = std::ferror(file) != 0;
  const bool closed = std::fclose(file) == 0;
  file = nullptr;
  return closed && !write_failed;
}

}  // namespace

int32_t korva_open_cor_file(const process_info& process, const schedule_tables& tables,
                            const char* cor_dir, cor_file_table& files, message_buffer& message) {
  std::memset(files.file, 0, sizeof files.file);
  std::memset(files.path, 0, sizeof files.path);
  process_files run{process, tables, cor_dir, compact_epoch_text(process.epoch), {}};
  station_pair pairs[max_station_pairs];
  const int pair_count = taking_part_pairs(tables, process, pairs);
  const int streams = stream_count(tables);
  // Files are created pair by pair, and within a pair stream by stream.
  for (int k = 0; k < pair_count * streams; ++k) {
    const station_pair& pair = pairs[k / streams];
    if (create_cor_file(run, pair.first, pair.second, k % streams, files, message) < 0) return -1;
  }
  write_message(message, "korva_open_cor_file: All cor-file have been created");
  return 1;
}

int32_t korva_close_cor_file(const process_info& /*process*/, const schedule_tables& /*tables*/,
                             const char* /*cor_dir*/, cor_file_table& files, message_buffer& message) {
  // Only korva_open_cor_file fills the table, so its non-null entries are
  // exactly the files of the process.
  const char* first_failure = nullptr;
  for (int a = 0; a < max_stations; ++a) {
    for (int b = a; b < max_stations; ++b) {
      for (int s = 0; s < max_streams; ++s) {
        if (!close_cor_file(files.file[a][b][s]) && first_failure == nullptr) first_failure = files.path[a][b][s];
      }
    }
  }
  if (first_failure != nullptr) {
    write_message(message, "korva_close_cor_file: Can't close cor-file[%s]", first_failure);
    return -1;
  }
  write_message(message, "All cor-file have been closed");
  return 1;
}

int32_t korva_write_cor_record(const cor_file_table& files, int a, int b, int stream,
                               const cor_record_header& header, const float* spectrum,
                               int32_t bins, message_buffer& message) {
  unsigned char block[cor_record_header_bytes] = {};
  put(block, 0, header.start_second);
  put(block, 4, header.start_nanoseconds);
  put(block, 8, header.end_second);
  put(block, 12, header.end_nanoseconds);
  put_delay(block, 16, header.first);
  put_delay(block, 64, header.second);
  put(block, 112, header.period_length);

  std::FILE* file = files.file[a][b][stream];
  // Floats are stored as they lie in memory: IEEE binary32, little-endian.
  std::size_t spectrum_bytes = bins > 0 ? static_cast<std::size_t>(bins) * 8 : 0;
  if (file == nullptr || !writes_fully(file, block, sizeof block) ||
      !writes_fully(file, spectrum, spectrum_bytes)) {
    write_message(message, "korva_write_cor_record: Can't write cor-file[%s]", files.path[a][b][stream]);
    return -1;
  }
  return 1;
}

void set_period_times(cor_record_header& header, int32_t t, int32_t period, int32_t pp_per_second) {
  constexpr int64_t second_ns = 1000000000;
  int64_t start = period * second_ns / pp_per_second;
  int64_t end = (period * second_ns + second_ns) / pp_per_second;
  // t + 1 in unsigned arithmetic: the last second of the epoch range wraps, never overflows.
  int32_t next = static_cast<int32_t>(static_cast<uint32_t>(t) + 1u);
  header.start_second = start >= second_ns ? next : t;
  header.start_nanoseconds = static_cast<int32_t>(start >= second_ns ? start - second_ns : start);
  header.end_second = end >= second_ns ? next : t;
  header.end_nanoseconds = static_cast<int32_t>(end >= second_ns ? end - second_ns : end);
  header.period_length = static_cast<float>(1.0 / pp_per_second);
}

}  // namespace korva
