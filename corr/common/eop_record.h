// Earth orientation at one UTC instant, as the schedule's "$EOP" lines give
// it, and the span of seconds that a table of them covers.
#pragma once

#include <cstdint>

namespace korva {

// Enough for a session of several weeks of daily values (14 weeks).
inline constexpr int max_eop_records = 100;

// Points of the Lagrange interpolation of the values: the two on either side.
inline constexpr int eop_interpolation_points = 4;

// 1972-01-01 00:00:00 UTC: from here on TAI-UTC is a whole number of seconds.
inline constexpr int32_t eop_first_epoch = 63072000;

struct eop_record {
  int32_t epoch;         // UTC second the values hold at; 0 ends the table
  int32_t zero;          // always 0
  double ut1_minus_utc;  // seconds of time
  double x_p;            // pole coordinates, arcseconds
  double y_p;
};

// Records before the first empty one (epoch 0) or the capacity.
int eop_record_count(const eop_record* records);

// Seconds that 4-point interpolation covers without extrapolating: from the
// second record to the last but one (each interval then has a point on either
// side). False when there are fewer than 4 records.
struct eop_span {
  int32_t first, last;
};
bool eop_covered_span(const eop_record* records, int count, eop_span& span);

}  // namespace korva
