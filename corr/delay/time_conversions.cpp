#include "time_conversions.h"

#include <cmath>

namespace korva {

namespace {

// Days from J2000.0 to t, in extended precision.
long double days_since_j2000(int32_t t) {
  const int64_t seconds = static_cast<int64_t>(t) - j2000_unix_seconds;
  return static_cast<long double>(seconds) / seconds_per_day;
}

}  // namespace

double centuries_since_j2000(int32_t t) {
  return static_cast<double>(days_since_j2000(t) / days_per_century);
}

double julian_date_of(int32_t t) {
  return static_cast<double>(2451545.0L + days_since_j2000(t));
}

double day_fraction(int32_t t) {
  return static_cast<double>(std::fmod(static_cast<long double>(t) / seconds_per_day, 1.0L));
}

double centuries_since_j2000_at_0h(int32_t t) {
  const double f = day_fraction(t);
  return static_cast<double>((days_since_j2000(t) - f) / days_per_century);
}

}  // namespace korva
