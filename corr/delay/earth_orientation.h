// Earth orientation (UT1-UTC and the pole coordinates x_p, y_p) interpolated
// from the schedule's tabulated values, for the delay model's rotation.
#pragma once

#include <cstdint>

#include "eop_record.h"

namespace korva {

// Earth orientation at one UTC second.
struct earth_orientation {
  double ut1_minus_utc;  // seconds
  double x_p, y_p;       // pole coordinates, radians
};

// The tabulated values of one run, built once from the "$EOP" records.
//
// Interpolation: 4-point Lagrange (the IERS recommendation for daily values,
// IERS Conventions 2003 ch. 5 and the IERS Gazette no. 13) over the records
// two on either side of t. UT1 is interpolated as UT1-TAI, which has no
// leap-second jumps, with TAI-UTC from the compiled leap-second table
// (leap_seconds.h); UT1-UTC at t is then UT1-TAI + TAI-UTC(t). Abscissae are
// the records' UTC seconds since 1970, which skip leap seconds: across one the
// interval is short by 1 s of 86400, an error below 1e-7 s in UT1.
class earth_orientation_series {
 public:
  // Records in strictly increasing time order (the schedule reader's rule);
  // count at most max_eop_records.
  earth_orientation_series(const eop_record* records, int count);
  // The table up to its first empty record.
  explicit earth_orientation_series(const eop_record* records);

  // Whether there are at least 4 records, and the span they cover with a point
  // on either side (from the second record to the last but one).
  bool has_span() const { return count_ >= eop_interpolation_points; }
  eop_span span() const;
  bool covers(int32_t t) const;

  // Values at t. Meant for covered t only: outside the span the end cubic is
  // extrapolated, so callers refuse such t first (the schedule reader does).
  earth_orientation at(int32_t t) const;

 private:
  int first_point(int32_t t) const;

  int count_ = 0;
  int32_t epoch_[max_eop_records] = {};
  long double ut1_minus_tai_[max_eop_records] = {};  // seconds
  double x_p_[max_eop_records] = {};                 // arcseconds
  double y_p_[max_eop_records] = {};
};

// 4-point Lagrange interpolation at t of the values y at the abscissae x
// (distinct), in extended precision.
long double lagrange_4(const int32_t* x, const long double* y, int32_t t);

}  // namespace korva
