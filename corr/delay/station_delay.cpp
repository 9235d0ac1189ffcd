#include "station_delay.h"

#include "delay_model.h"

namespace korva {

delay_frame compute_delay_frame(double ra, double dec, int32_t t) {
  return compute_delay_frame(ra, dec, t, nullptr);
}

delay_frame compute_delay_frame(double ra, double dec, int32_t t, const earth_orientation_series* eop) {
  const earth_orientation orientation = eop != nullptr ? eop->at(t) : earth_orientation{0.0, 0.0, 0.0};
  const nutation_of_date nutation = nutation_matrix(t);
  const matrix3 precession = precession_matrix(t);
  const earth_rotation rotation =
      earth_rotation_matrices(t, nutation.mean_obliquity, nutation.longitude, orientation.ut1_minus_utc);
  const vector3 source_j2000 = apparent_source_vector(t, ra, dec);
  delay_frame frame{};
  frame.epoch = t;
  // Precession first, then nutation.
  frame.source_of_date = matrix_vector_product(nutation.matrix, matrix_vector_product(precession, source_j2000));
  for (int k = 0; k < 5; ++k) frame.rotation[k] = rotation.e[k];
  if (eop != nullptr) {
    const matrix3 polar_motion = polar_motion_matrix(orientation.x_p, orientation.y_p);
    for (int k = 0; k < 5; ++k) frame.rotation[k] = matrix_product(rotation.e[k], polar_motion);
  }
  return frame;
}

station_delay compute_station_delay(const delay_frame& frame, const station_position& station) {
  const vector3 position{station.x, station.y, station.z};
  station_delay result{};
  result.epoch = frame.epoch;
  result.zero = 0;
  for (int k = 0; k < 5; ++k) {
    const vector3 b = matrix_vector_product(frame.rotation[k], position);
    result.delay[k] =
        static_cast<double>(static_cast<long double>(vector_dot(frame.source_of_date, b)) / -speed_of_light);
  }
  return result;
}

}  // namespace korva
