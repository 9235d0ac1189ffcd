#include "station_delay.h"

#include "delay_model.h"

namespace korva {

station_delay compute_station_delay(const station_info& station, const source_info& source, int32_t t) {
  const nutation_of_date nutation = nutation_matrix(t);
  const matrix3 precession = precession_matrix(t);
  const earth_rotation rotation = earth_rotation_matrices(t, nutation.mean_obliquity, nutation.longitude);
  const vector3 source_j2000 = apparent_source_vector(t, source.ra, source.dec);
  // Precession first, then nutation.
  const vector3 source_true = matrix_vector_product(nutation.matrix, matrix_vector_product(precession, source_j2000));
  const vector3 position{station.x, station.y, station.z};
  station_delay result{};
  result.epoch = t;
  result.zero = 0;
  for (int k = 0; k < 5; ++k) {
    const vector3 b = matrix_vector_product(rotation.e[k], position);
    result.delay[k] = static_cast<double>(static_cast<long double>(vector_dot(source_true, b)) / -speed_of_light);
  }
  return result;
}

}  // namespace korva
