#include <cmath>

#include "delay_model.h"
#include "rotations.h"
#include "time_conversions.h"

namespace korva {

earth_rotation earth_rotation_matrices(int32_t t, double mean_obliquity, double longitude) {
  return earth_rotation_matrices(t, mean_obliquity, longitude, 0.0);
}

earth_rotation earth_rotation_matrices(int32_t t, double mean_obliquity, double longitude, double ut1_minus_utc) {
  // UT1 time of day, kept in extended precision; the GMST polynomial stays at
  // the 0 h UTC before t, which differs from the 0 h UT1 form by under 1e-14
  // rad when UT1 and UTC fall on either side of midnight. Adding 0 leaves f.
  const long double f = day_fraction(t) + static_cast<long double>(ut1_minus_utc) / seconds_per_day;
  const long double tu = centuries_since_j2000_at_0h(t);
  // GMST at the preceding 0 h UTC, seconds, and its fraction of a turn.
  const double gmst_0h = static_cast<double>(24110.54841 + 8640184.812866 * tu + 0.093104 * tu * tu - 6.2e-6 * tu * tu * tu);
  const double g = static_cast<double>(std::fmod(static_cast<long double>(gmst_0h) / seconds_per_day, 1.0L));
  // Sidereal seconds per solar second.
  const double r = static_cast<double>(1.002737909350795 + 5.9006e-11 * tu - 5.9e-15 * tu * tu);
  // Minus the apparent sidereal time: GMST plus the equation of the equinoxes.
  const double a = static_cast<double>(-static_cast<long double>(two_pi) * (g + static_cast<long double>(r) * f) -
                                       static_cast<long double>(longitude) * std::cos(mean_obliquity));
  const double omega = static_cast<double>(-2 * static_cast<long double>(r) * static_cast<long double>(pi) / seconds_per_day);
  earth_rotation rotation{};
  rotation.e[0] = matrix_product(rotation_z(a), scalar_identity(1.0));
  matrix3 (*const derivatives[4])(double) = {rotation_z_d1, rotation_z_d2, rotation_z_d3, rotation_z_d4};
  for (int k = 1; k <= 4; ++k) {
    const double omega_k = static_cast<double>(std::pow(static_cast<long double>(omega), static_cast<long double>(k)));
    rotation.e[k] = matrix_product(derivatives[k - 1](a), scalar_identity(omega_k));
  }
  return rotation;
}

}  // namespace korva
