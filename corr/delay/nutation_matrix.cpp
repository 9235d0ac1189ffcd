#include "delay_model.h"
#include "nutation.h"
#include "rotations.h"
#include "time_conversions.h"

namespace korva {

nutation_of_date nutation_matrix(int32_t t) {
  const long double tc = centuries_since_j2000(t);
  const long double arcseconds_to_radians = static_cast<long double>(pi) / 180 / 3600;
  nutation_of_date n{};
  n.mean_obliquity = static_cast<double>(
      (84381.448 - 46.815 * tc - 0.00059 * tc * tc + 0.001813 * tc * tc * tc) * arcseconds_to_radians);
  const nutation_components totals = nutation_total(julian_date_of(t));
  n.longitude = static_cast<double>(totals.total.longitude * arcseconds_to_radians / 1000);
  n.obliquity = static_cast<double>(totals.total.obliquity * arcseconds_to_radians / 1000);
  matrix3 m = scalar_identity(1.0);
  m = matrix_product(m, rotation_x(static_cast<double>(-(static_cast<long double>(n.mean_obliquity) + n.obliquity))));
  m = matrix_product(m, rotation_z(-n.longitude));
  m = matrix_product(m, rotation_x(n.mean_obliquity));
  n.matrix = m;
  return n;
}

}  // namespace korva
