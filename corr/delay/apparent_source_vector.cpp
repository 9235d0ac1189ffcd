#include <cmath>

#include "delay_model.h"
#include "time_conversions.h"

namespace korva {

vector3 apparent_source_vector(int32_t t, double ra, double dec) {
  const long double tc = centuries_since_j2000(t);
  const long double degrees_to_radians = static_cast<long double>(pi) / 180;
  // Low-precision Sun, degrees: eccentricity, mean longitude, mean anomaly,
  // true longitude, mean obliquity and longitude of the solar perigee.
  const double e = static_cast<double>(0.01670862 - 0.00004204 * tc);
  const double mean_longitude = static_cast<double>(280.466 + 36000.77 * tc);
  const double mean_anomaly = static_cast<double>(357.529 + 35999.05 * tc);
  const double anomaly_radians = static_cast<double>(mean_anomaly * degrees_to_radians);
  const double true_longitude = static_cast<double>(mean_longitude + (1.915 - 0.005 * tc) * std::sin(anomaly_radians) +
                                                    0.020 * std::sin(static_cast<double>(2.0L * anomaly_radians)));
  const double obliquity_degrees = static_cast<double>(23.439291 - 0.013004 * tc);
  const double perigee_degrees = static_cast<double>(282.937 + 1.72 * tc);
  const double lambda = static_cast<double>(true_longitude * degrees_to_radians);
  const double epsilon = static_cast<double>(obliquity_degrees * degrees_to_radians);
  const double perigee = static_cast<double>(perigee_degrees * degrees_to_radians);

  const long double cos_dec = std::cos(static_cast<long double>(dec));
  const double x0 = static_cast<double>(cos_dec * std::cos(static_cast<long double>(ra)));
  const double y0 = static_cast<double>(cos_dec * std::sin(static_cast<long double>(ra)));
  const double z0 = std::sin(dec);

  const long double kappa = aberration_constant;
  const long double cos_lambda = std::cos(lambda), sin_lambda = std::sin(lambda);
  const long double cos_epsilon = std::cos(epsilon), sin_epsilon = std::sin(epsilon);
  const long double cos_perigee = std::cos(perigee), sin_perigee = std::sin(perigee);
  // Eccentricity term with k = -e: the perigee longitude is the Sun's perigee
  // seen from the Earth, so the Earth's orbital velocity carries
  // +e·(sin w, -cos w·cos eps, -cos w·sin eps); k = +e would point it the wrong
  // way and put the direction off by up to about 0.7".
  const long double k = -static_cast<long double>(e);
  const double x1 = static_cast<double>(x0 + kappa * sin_lambda + kappa * k * -sin_perigee);
  const double y1 = static_cast<double>(y0 - kappa * cos_lambda * cos_epsilon + kappa * k * cos_perigee * cos_epsilon);
  const double z1 = static_cast<double>(z0 - kappa * cos_lambda * sin_epsilon + kappa * k * cos_perigee * sin_epsilon);

  const double length = static_cast<double>(
      std::sqrt(static_cast<long double>(x1) * x1 + static_cast<long double>(y1) * y1 + static_cast<long double>(z1) * z1));
  return vector3{static_cast<double>(x1 / static_cast<long double>(length)),
                 static_cast<double>(y1 / static_cast<long double>(length)),
                 static_cast<double>(z1 / static_cast<long double>(length))};
}

}  // namespace korva
