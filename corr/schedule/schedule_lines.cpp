// Handlers of the "$Station", "$Source", "$Process" and "$Stream" lines.
#include <cstdio>
#include <cstring>

#include "epoch_text.h"
#include "math_constants.h"
#include "schedule.h"
#include "schedule_words.h"

namespace korva {

namespace {

constexpr std::string_view station_keyword = "$Station";
constexpr std::string_view source_keyword = "$Source";
constexpr std::string_view process_keyword = "$Process";
constexpr std::string_view stream_keyword = "$Stream";

// Words of the line after its keyword (the keyword may run straight into the
// first word, as in "$StationXY": the rest "XY" is the first word).
word_list words_after(const char* line, std::string_view keyword) {
  return split_words(std::string_view(line + keyword.size()));
}

int32_t fail(message_buffer& message, const char* format, const char* line) {
  write_message(message, format, line);
  return -1;
}

// Stores a word in a full-width field; a longer word fails the line with the
// too_long message, which quotes the line and the field width.
template <std::size_t width>
bool store_full_width(std::string_view word, char (&field)[width], const char* too_long, const char* line,
                      message_buffer& message) {
  if (copy_field(word, field, width, true)) return true;
  write_message(message, too_long, line, static_cast<int>(width));
  return false;
}

// Reads the optional clock part of a station line: date, time and up to five
// coefficients; coefficients missing at the end keep their values.
bool read_station_clock(const word_list& words, station_clock& clock) {
  constexpr int first_clock_word = 5;
  if (words.count <= first_clock_word) return true;
  int32_t epoch = 0;
  if (words.count < first_clock_word + 2 ||
      !parse_epoch(words.word[first_clock_word], words.word[first_clock_word + 1], epoch))
    return false;
  double coefficient[5];
  int present = 0;
  for (int k = 0; k < 5 && first_clock_word + 2 + k < words.count; ++k, ++present) {
    if (!parse_real(words.word[first_clock_word + 2 + k], coefficient[k])) return false;
  }
  clock.epoch = epoch;
  for (int k = 0; k < present; ++k) clock.clock[k] = coefficient[k];
  return true;
}

// Right ascension "HHhMMmSS.s..." in radians; text after the seconds is ignored.
bool read_right_ascension(std::string_view word, double& ra) {
  char text[256] = {};
  std::memcpy(text, word.data(), word.size() < 255 ? word.size() : 255);
  int h = 0, m = 0;
  double s = 0;
  if (std::sscanf(text, "%2dh%2dm%lf", &h, &m, &s) != 3) return false;
  ra = static_cast<double>(((h + m / 60.0L + s / 3600.0L) / 12.0L) * static_cast<long double>(pi));
  return true;
}

// Declination "sDDdMM'SS.s" in radians: a '+' sign character gives north, any
// other character south.
bool read_declination(std::string_view word, double& dec) {
  char text[256] = {};
  std::memcpy(text, word.data(), word.size() < 255 ? word.size() : 255);
  char sign = 0;
  int d = 0, m = 0;
  double s = 0;
  if (std::sscanf(text, "%c%2dd%2d'%lf", &sign, &d, &m, &s) != 4) return false;
  const long double value = ((d + m / 60.0L + s / 3600.0L) / 180.0L) * static_cast<long double>(pi);
  dec = static_cast<double>(sign == '+' ? value : -value);
  return true;
}

}  // namespace

int32_t append_station(schedule_tables& tables, const char* line, message_buffer& message) {
  const char* syntax = "append_station: Syntax Error in station-info [%s]";
  const int i = station_count(tables);
  if (i >= max_stations) return fail(message, "append_station: No room for station-info [%s]", line);
  if (!starts_with_keyword(line, station_keyword)) return fail(message, syntax, line);
  const word_list words = words_after(line, station_keyword);
  if (words.count < 5) return fail(message, syntax, line);
  station_code code{};
  station_info info{};
  if (!copy_field(words.word[0], code.code, sizeof code.code, false) ||
      !copy_field(words.word[1], info.name, sizeof info.name, false) ||
      !parse_real(words.word[2], info.x) || !parse_real(words.word[3], info.y) ||
      !parse_real(words.word[4], info.z))
    return fail(message, syntax, line);
  station_clock clock = tables.clocks[i];
  if (!read_station_clock(words, clock)) return fail(message, syntax, line);
  tables.codes[i] = code;
  tables.stations[i] = info;
  tables.clocks[i] = clock;
  write_message(message, "append_station: Station-information[%s] Reading Success", line);
  return 1;
}

int32_t append_source(schedule_tables& tables, const char* line, message_buffer& message) {
  const char* syntax = "append_source: Syntax Error in source-info [%s]";
  const int i = source_count(tables);
  if (i >= max_sources) return fail(message, "append_source: No room for source-info [%s]", line);
  if (!starts_with_keyword(line, source_keyword)) return fail(message, syntax, line);
  const word_list words = words_after(line, source_keyword);
  if (words.count < 3) return fail(message, syntax, line);
  source_info source{};
  if (!copy_field(words.word[0], source.name, sizeof source.name, false) ||
      !read_right_ascension(words.word[1], source.ra) ||
      !read_declination(words.word[2], source.dec))
    return fail(message, syntax, line);
  tables.sources[i] = source;
  write_message(message, "append_source: Source-information[%s] Reading Success", line);
  return 1;
}

int32_t append_process(schedule_tables& tables, const char* line, message_buffer& message) {
  const char* syntax = "append_process: Syntax Error in process-info [%s]";
  const int i = process_count(tables);
  if (i >= max_processes) return fail(message, "append_process: No room for process-info [%s]", line);
  const word_list words = split_words(line);
  if (!starts_with_keyword(line, process_keyword) || words.count != 6) return fail(message, syntax, line);
  process_info& process = tables.processes[i];
  int32_t epoch = 0, length = 0;
  if (!parse_epoch(words.word[1], words.word[2], epoch) || !parse_int32(words.word[3], length) ||
      length < 0)
    return fail(message, syntax, line);
  // Epoch and length stay stored when a later word fails.
  process.epoch = epoch;
  process.length = length;
  if (!store_full_width(words.word[4], process.source, "append_process: Length of the 4th term [%s] is over than %d",
                        line, message) ||
      !store_full_width(words.word[5], process.stations,
                        "append_process: Length of the 5th term [%s] is over than %d", line, message))
    return -1;
  write_message(message, "append_process: Process-information[%s] Reading Success", line);
  return 1;
}

int32_t append_stream(schedule_tables& tables, const char* line, message_buffer& message) {
  // The stream syntax message carries the process handler's name.
  const char* syntax = "append_process: Syntax Error in stream-info [%s]";
  const int i = stream_count(tables);
  if (i >= max_streams) return fail(message, "append_stream: No room for stream-info [%s]", line);
  const word_list words = split_words(line);
  if (!starts_with_keyword(line, stream_keyword) || words.count != 7) return fail(message, syntax, line);
  stream_info& stream = tables.streams[i];
  if (!store_full_width(words.word[1], stream.name, "append_stream: Length of the 2th term [%s] is over than %d", line,
                        message) ||
      !store_full_width(words.word[2], stream.source, "append_stream: Length of the 3th term [%s] is over than %d",
                        line, message))
    return -1;
  int32_t fft_points = 0;
  if (!parse_int32(words.word[5], fft_points)) return fail(message, syntax, line);
  if (fft_points > max_fft_points) {
    write_message(message, "append_stream: Number of the FFT-Point[%d] is larger than [%d]", fft_points,
                  max_fft_points);
    return -1;
  }
  double frequency = 0;
  int32_t channel = 0, pp_per_second = 0;
  if (!parse_real(words.word[3], frequency) || !parse_int32(words.word[4], channel) ||
      !parse_int32(words.word[6], pp_per_second))
    return fail(message, syntax, line);
  stream.frequency = frequency;
  stream.channel = channel;
  stream.fft_points = fft_points;
  stream.pp_per_second = pp_per_second;
  write_message(message, "append_stream: Stream-information[%s] Reading Success", line);
  return 1;
}

}  // namespace korva
