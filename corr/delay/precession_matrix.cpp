#include "delay_model.h"
#include "rotations.h"
#include "time_conversions.h"

namespace korva {

matrix3 precession_matrix(int32_t t) {
  const long double tc = centuries_since_j2000(t);
  const long double to_radians = static_cast<long double>(pi) / 180 / 3600;
  const double zeta = static_cast<double>((2306.2181 * tc + 0.30188 * tc * tc + 0.017998 * tc * tc * tc) * to_radians);
  const double z = static_cast<double>((2306.2181 * tc + 1.09468 * tc * tc + 0.018203 * tc * tc * tc) * to_radians);
  const double theta = static_cast<double>((2004.3109 * tc - 0.42665 * tc * tc - 0.041833 * tc * tc * tc) * to_radians);
  const long double half_pi = static_cast<long double>(pi) / 2;
  // R3(-z - pi/2)·R1(theta)·R3(pi/2 - zeta) = R3(-z)·R2(theta)·R3(-zeta).
  matrix3 p = scalar_identity(1.0);
  p = matrix_product(p, rotation_z(static_cast<double>(-z - half_pi)));
  p = matrix_product(p, rotation_x(theta));
  p = matrix_product(p, rotation_z(static_cast<double>(half_pi - zeta)));
  return p;
}

}  // namespace korva
