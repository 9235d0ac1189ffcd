// Conversions from the correlator's integer UTC epoch (seconds since
// 1970-01-01 00:00:00) to the time arguments of the astronomical formulas.
// UTC stands in for every time scale: no leap-second, UT1 or dynamical-time
// correction is applied. J2000.0 is subtracted from the integer epoch first,
// in 64-bit integers, so no precision is lost and no epoch overflows.
#pragma once

#include <cstdint>

namespace korva {

// J2000.0, 2000-01-01 12:00:00, in UTC seconds since 1970.
inline constexpr int32_t j2000_unix_seconds = 946728000;

inline constexpr int32_t seconds_per_day = 86400;
inline constexpr int32_t days_per_century = 36525;

// Julian centuries (36525 days of 86400 s) from J2000.0 to t.
double centuries_since_j2000(int32_t t);

// Julian date of t: 2451545.0 + (t - J2000.0) / 86400, days.
double julian_date_of(int32_t t);

// UTC time of day of t in days: the remainder of t / 86400 by 1, taken in
// extended precision (0 <= f < 1 for epochs from 1970 on).
double day_fraction(int32_t t);

// Julian centuries from J2000.0 to the 0 h UTC that precedes t.
double centuries_since_j2000_at_0h(int32_t t);

}  // namespace korva
