// Handlers of the "$Station", "$Source", "$Process" and "$Stream" lines.
#include <cmath>
#include <cstdint>
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

// A failure message quoting a word of the line and then the line.
int32_t fail_quoting(message_buffer& message, const char* format, std::string_view word, const char* line) {
  write_message(message, format, static_cast<int>(word.size()), word.data(), line);
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

enum class angle_read { ok, syntax, out_of_range };

// Minutes of 0..59 and seconds of 0 up to below 60, finite (the real-number
// conversion also takes nan, inf and signs).
bool is_sexagesimal(int minutes, double seconds) {
  return minutes >= 0 && minutes <= 59 && std::isfinite(seconds) && seconds >= 0 && seconds < 60;
}

// Right ascension "HHhMMmSS.s..." in radians, hours 0..23; text after the
// seconds is ignored.
angle_read read_right_ascension(std::string_view word, double& ra) {
  char text[256] = {};
  std::memcpy(text, word.data(), word.size() < 255 ? word.size() : 255);
  int h = 0, m = 0;
  double s = 0;
  if (std::sscanf(text, "%2dh%2dm%lf", &h, &m, &s) != 3) return angle_read::syntax;
  if (h < 0 || h > 23 || !is_sexagesimal(m, s)) return angle_read::out_of_range;
  ra = static_cast<double>(((h + m / 60.0L + s / 3600.0L) / 12.0L) * static_cast<long double>(pi));
  return angle_read::ok;
}

// Declination "sDDdMM'SS.s" in radians, at most 90 degrees from the equator:
// a '+' sign character gives north, any other character south.
angle_read read_declination(std::string_view word, double& dec) {
  char text[256] = {};
  std::memcpy(text, word.data(), word.size() < 255 ? word.size() : 255);
  char sign = 0;
  int d = 0, m = 0;
  double s = 0;
  if (std::sscanf(text, "%c%2dd%2d'%lf", &sign, &d, &m, &s) != 4) return angle_read::syntax;
  if (d < 0 || d > 90 || !is_sexagesimal(m, s) || (d == 90 && (m > 0 || s > 0))) return angle_read::out_of_range;
  const long double value = ((d + m / 60.0L + s / 3600.0L) / 180.0L) * static_cast<long double>(pi);
  dec = static_cast<double>(sign == '+' ? value : -value);
  return angle_read::ok;
}

// Station and stream names become parts of raw and output file names: a '/'
// would put the file into another directory.
bool is_file_name_part(std::string_view name) { return name.find('/') == std::string_view::npos; }

// Refuses a name that cannot be part of a file name, quoting it and the line.
bool check_name(std::string_view name, const char* format, const char* line, message_buffer& message) {
  if (is_file_name_part(name)) return true;
  fail_quoting(message, format, name, line);
  return false;
}

// Epochs are signed 32-bit seconds, 0 ends the process table, and the seconds
// of a process are walked as unsigned 32-bit values from its epoch: a process
// must not start at 0, reach 0 from below, or end past the last 32-bit second.
bool check_process_span(const process_info& process, const char* line, message_buffer& message) {
  const int64_t end = int64_t{process.epoch} + process.length;
  if (process.epoch == 0) {
    write_message(message,
                  "append_process: Epoch 1970/001 00:00:00 of process-info [%s] would end the process table",
                  line);
    return false;
  }
  if (process.epoch < 0 && end >= 0 && process.length > 0) {
    write_message(message, "append_process: Process-info [%s] runs up to or across 1970/001 00:00:00", line);
    return false;
  }
  if (end > INT32_MAX) {
    write_message(message, "append_process: Process-info [%s] runs past 2038/019 03:14:07", line);
    return false;
  }
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
  if (!check_name(words.word[1], "append_station: Name[%.*s] of station-info [%s] contains '/'", line, message))
    return -1;
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
  if (!copy_field(words.word[0], source.name, sizeof source.name, false)) return fail(message, syntax, line);
  const angle_read ra = read_right_ascension(words.word[1], source.ra);
  const angle_read dec = read_declination(words.word[2], source.dec);
  if (ra == angle_read::syntax || dec == angle_read::syntax) return fail(message, syntax, line);
  if (ra == angle_read::out_of_range) {
    return fail_quoting(message,
                                "append_source: Right ascension[%.*s] of source-info [%s] is outside 00h00m00 to "
                                "23h59m59.x",
                                words.word[1], line);
  }
  if (dec == angle_read::out_of_range) {
    return fail_quoting(message,
                                "append_source: Declination[%.*s] of source-info [%s] is outside -90d00'00 to "
                                "+90d00'00",
                                words.word[2], line);
  }
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
  if (!check_process_span(process, line, message)) return -1;
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
  if (!check_name(words.word[1], "append_stream: Name[%.*s] of stream-info [%s] contains '/'", line, message))
    return -1;
  if (pp_per_second < 0) {
    write_message(message, "append_stream: Number of the parameter periods[%d] of stream-info [%s] is negative",
                  pp_per_second, line);
    return -1;
  }
  stream.frequency = frequency;
  stream.channel = channel;
  stream.fft_points = fft_points;
  stream.pp_per_second = pp_per_second;
  write_message(message, "append_stream: Stream-information[%s] Reading Success", line);
  return 1;
}

}  // namespace korva
