// Epochs (signed 32-bit counts of UTC seconds since 1970-01-01 00:00:00) as
// text: the 13-digit form of file names, the form of schedule lines and
// information lines, and the reading of a schedule's date and time words.
// Everything is UTC whatever the time zone of the process.
#pragma once

#include <cstdint>
#include <string_view>

namespace korva {

struct epoch_text {
  char text[32];
};

// "%Y%j%H%M%S": year, day of the year, hour, minute, second (13 digits for
// years 1000 to 9999), as in raw and output file names.
epoch_text compact_epoch_text(int32_t epoch);

// "%Y/%j %H:%M:%S", as in schedule lines and information lines.
epoch_text schedule_epoch_text(int32_t epoch);

// The UTC second of a date word "YYYY/DDD" (a year of 1 to 4 digits, a day of
// the year of 1 to 3 digits, 1..365 or 366 in leap years) and a time word
// "HH:MM:SS" (1 or 2 digits each; hours 0..23, minutes 0..59, seconds 0..60,
// a 60th second being the first second of the next minute). Fails, leaving
// epoch as it was, unless both words are whole and the result fits 32 bits.
bool parse_epoch(std::string_view date, std::string_view time, int32_t& epoch);
bool parse_epoch(const char* date, const char* time, int32_t& epoch);

}  // namespace korva
