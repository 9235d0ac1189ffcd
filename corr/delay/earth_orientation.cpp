#include "earth_orientation.h"

#include "delay_model.h"
#include "leap_seconds.h"
#include "rotations.h"

namespace korva {

long double lagrange_4(const int32_t* x, const long double* y, int32_t t) {
  long double sum = 0.0L;
  for (int j = 0; j < eop_interpolation_points; ++j) {
    long double weight = 1.0L;
    for (int m = 0; m < eop_interpolation_points; ++m) {
      if (m == j) continue;
      weight *= static_cast<long double>(int64_t{t} - x[m]) / static_cast<long double>(int64_t{x[j]} - x[m]);
    }
    sum += weight * y[j];
  }
  return sum;
}

earth_orientation_series::earth_orientation_series(const eop_record* records, int count)
    : count_(count < 0 ? 0 : count > max_eop_records ? max_eop_records : count) {
  for (int i = 0; i < count_; ++i) {
    epoch_[i] = records[i].epoch;
    ut1_minus_tai_[i] = static_cast<long double>(records[i].ut1_minus_utc) - tai_minus_utc(records[i].epoch);
    x_p_[i] = records[i].x_p;
    y_p_[i] = records[i].y_p;
  }
}

earth_orientation_series::earth_orientation_series(const eop_record* records)
    : earth_orientation_series(records, eop_record_count(records)) {}

eop_span earth_orientation_series::span() const {
  if (!has_span()) return eop_span{0, -1};
  return eop_span{epoch_[1], epoch_[count_ - 2]};
}

bool earth_orientation_series::covers(int32_t t) const {
  const eop_span s = span();
  return has_span() && t >= s.first && t <= s.last;
}

// Index of the first of the 4 points: one before the interval holding t,
// kept inside the table.
int earth_orientation_series::first_point(int32_t t) const {
  int i = 1;
  while (i + 1 < count_ - 2 && epoch_[i + 1] <= t) ++i;
  return i - 1;
}

earth_orientation earth_orientation_series::at(int32_t t) const {
  if (!has_span()) return earth_orientation{0.0, 0.0, 0.0};
  const int first = first_point(t);
  const int32_t* x = &epoch_[first];
  long double xp[eop_interpolation_points], yp[eop_interpolation_points];
  for (int j = 0; j < eop_interpolation_points; ++j) {
    xp[j] = x_p_[first + j];
    yp[j] = y_p_[first + j];
  }
  const long double arcseconds_to_radians = static_cast<long double>(pi) / 180 / 3600;
  earth_orientation e{};
  e.ut1_minus_utc = static_cast<double>(lagrange_4(x, &ut1_minus_tai_[first], t) + tai_minus_utc(t));
  e.x_p = static_cast<double>(lagrange_4(x, xp, t) * arcseconds_to_radians);
  e.y_p = static_cast<double>(lagrange_4(x, yp, t) * arcseconds_to_radians);
  return e;
}

matrix3 polar_motion_matrix(double x_p, double y_p) {
  return matrix_product(rotation_y(x_p), rotation_x(y_p));
}

}  // namespace korva
