// Warnings about streams that are correlated as written but perhaps not as
// meant.
#include <cstdio>

#include "schedule.h"

namespace korva {

namespace {

constexpr int64_t record_header_bytes = 128;
constexpr int64_t spectral_point_bytes = 8;

// The warning about one stream, or an empty text.
std::string stream_warning(const stream_info& stream, int64_t sample_rate) {
  const field_text name(stream.name);
  const int64_t periods = stream.pp_per_second;
  char text[message_capacity] = {};
  if (periods == 0) {
    std::snprintf(text, sizeof text,
                  "korva_read_schedule: Warning: Stream[%s] has 0 parameter periods per second: its cor-files get "
                  "no records",
                  name.text);
  } else if (sample_rate < periods * stream.fft_points) {
    const int64_t bytes = periods * (record_header_bytes + spectral_point_bytes * (stream.fft_points / 2));
    std::snprintf(text, sizeof text,
                  "korva_read_schedule: Warning: Stream[%s] has periods of %.6g samples, shorter than its "
                  "%d-point FFT segment: records share samples, %lld bytes per second of data in each cor-file",
                  name.text, static_cast<double>(sample_rate) / static_cast<double>(periods), stream.fft_points,
                  static_cast<long long>(bytes));
  }
  return text;
}

}  // namespace

std::vector<std::string> schedule_warnings(const schedule_tables& tables) {
  std::vector<std::string> lines;
  if (process_count(tables) == 0) return lines;
  const int streams = stream_count(tables);
  for (int s = 0; s < streams; ++s) {
    std::string line = stream_warning(tables.streams[s], tables.terminal.sample_rate);
    if (!line.empty()) lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace korva
