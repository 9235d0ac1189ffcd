#include "epoch_text.h"

#include <ctime>
#include <limits>

#include "text_scan.h"

namespace korva {

namespace {

epoch_text format_epoch(int32_t epoch, const char* format) {
  epoch_text result{};
  const std::time_t seconds = epoch;
  std::tm utc{};
  if (gmtime_r(&seconds, &utc) != nullptr) std::strftime(result.text, sizeof result.text, format, &utc);
  return result;
}

bool is_leap_year(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// Days from 1970-01-01 to January 1 of year y (proleptic Gregorian).
int64_t days_to_new_year(int64_t y) {
  // Counted in years that begin on March 1, so leap days end a year: January 1
  // of y is day 306 of the March-based year y - 1.
  y -= 1;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = 306;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

}  // namespace

epoch_text compact_epoch_text(int32_t epoch) { return format_epoch(epoch, "%Y%j%H%M%S"); }

epoch_text schedule_epoch_text(int32_t epoch) { return format_epoch(epoch, "%Y/%j %H:%M:%S"); }

bool parse_epoch(std::string_view date, std::string_view time, int32_t& epoch) {
  int64_t year, day, hour, minute, second;
  if (!take_digits(date, 4, year) || !take_char(date, '/') || !take_digits(date, 3, day) ||
      !date.empty())
    return false;
  if (!take_digits(time, 2, hour) || !take_char(time, ':') || !take_digits(time, 2, minute) ||
      !take_char(time, ':') || !take_digits(time, 2, second) || !time.empty())
    return false;
  const int64_t days_in_year = is_leap_year(year) ? 366 : 365;
  if (day < 1 || day > days_in_year || hour > 23 || minute > 59 || second > 60) return false;
  const int64_t t =
      (days_to_new_year(year) + day - 1) * 86400 + hour * 3600 + minute * 60 + second;
  if (t < std::numeric_limits<int32_t>::min() || t > std::numeric_limits<int32_t>::max()) return false;
  epoch = static_cast<int32_t>(t);
  return true;
}

bool parse_epoch(const char* date, const char* time, int32_t& epoch) {
  return parse_epoch(std::string_view(date), std::string_view(time), epoch);
}

}  // namespace korva
