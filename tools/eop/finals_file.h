// Reading of IERS finals2000A files (one line of fixed columns per day) and
// the "$EOP" schedule lines that cover a schedule's processes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "schedule.h"

namespace korva::eop {

// One day of a finals2000A file: the Bulletin A (rapid service) values at
// 0 h UTC.
struct finals_day {
  int32_t mjd = 0;               // modified Julian date of the day
  bool has_pole = false;         // x_p, y_p present
  bool has_ut1 = false;          // UT1-UTC present
  bool pole_predicted = false;   // flag P (else I, final)
  bool ut1_predicted = false;
  double x_p = 0.0, y_p = 0.0;   // arcseconds
  double ut1_minus_utc = 0.0;    // seconds
};

// Reads one line; false when it carries no readable MJD.
bool parse_finals_line(const std::string& line, finals_day& day);

// UTC second of 0 h of a modified Julian date.
int64_t mjd_epoch(int32_t mjd);

// The days the schedule's processes need, one before the first correlated
// second's neighbour day to two after the last's, as modified Julian dates:
// 4-point interpolation on an interval needs a point on either side.
struct day_range {
  int32_t first_mjd, last_mjd;
};
bool needed_days(const schedule_tables& tables, day_range& range, std::string& error);

// The "$EOP" lines of the range from the file's days; false with a one-line
// message when a day is missing or lacks values, or holds predictions while
// they are not accepted, or when the range exceeds the schedule's capacity.
bool eop_lines(const std::vector<finals_day>& days, const day_range& range, bool accept_predictions,
               const std::string& file_name, std::vector<std::string>& lines, std::string& error);

}  // namespace korva::eop
