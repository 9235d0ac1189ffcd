// The parts of the geometric delay model: precession, nutation, the Earth's
// rotation with its time derivatives, and the aberrated source direction.
// t is a UTC epoch in seconds since 1970; UTC stands in for UT1, TT and TDB.
// compute_station_delay (station_delay.h) combines them.
#pragma once

#include <cstdint>

#include "math_constants.h"
#include "vector3.h"

namespace korva {

inline constexpr double speed_of_light = 299792458.0;         // m/s
inline constexpr double aberration_constant = 9.936508497454117e-05;  // rad (20.49552")

// IAU 1976 precession from the mean equator and equinox of J2000.0 to those
// of date: v_date = P·v_J2000.
matrix3 precession_matrix(int32_t t);

// Nutation matrix with the angles it was built from, radians.
struct nutation_of_date {
  matrix3 matrix;          // N: mean equator and equinox of date to true of date
  double mean_obliquity;   // epsilon_0, IAU 1980
  double longitude;        // delta psi, frame-bias offsets included
  double obliquity;        // delta epsilon, frame-bias offsets included
};

// N = R1(-(eps0 + deps))·R3(-dpsi)·R1(eps0), with the IAU 2000A nutation.
nutation_of_date nutation_matrix(int32_t t);

// E[0] turns terrestrial coordinates into those of the true equator and
// equinox of date (rotation by minus the Greenwich apparent sidereal time);
// E[k] gives the k-th time derivative of the rotated coordinates, per s^k.
struct earth_rotation {
  matrix3 e[5];
};

// Earth rotation at t from the IAU 1982 GMST and the equation of the
// equinoxes dpsi·cos(eps0); mean_obliquity and longitude in radians.
earth_rotation earth_rotation_matrices(int32_t t, double mean_obliquity, double longitude);

// Unit vector towards the source at ra, dec (radians, J2000.0), with annual
// aberration from a low-precision solar theory; still J2000.0 axes.
vector3 apparent_source_vector(int32_t t, double ra, double dec);

}  // namespace korva
