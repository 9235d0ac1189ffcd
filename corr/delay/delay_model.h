// The parts of the geometric delay model: precession, nutation, the Earth's
// rotation with its time derivatives, and the aberrated source direction.
// compute_delay_frame and compute_station_delay (station_delay.h) combine them.
//
// Common contract of every routine here:
// - t is a UTC epoch in whole seconds since 1970-01-01 00:00:00. UTC stands in
//   for TT and TDB (and for UT1 unless Earth orientation is given), so the
//   model is geometric only: no polar motion, diurnal aberration, bending,
//   atmosphere or tides.
// - Angles are radians, matrices are frame rotations (vector3.h).
// - Arithmetic: intermediate values in x87 extended precision, stored as
//   doubles at each assignment; no fused multiply-add. Same inputs give the
//   same bits on every build.
// - Pure: no state, no failure, callable from any thread.
#pragma once

#include <cstdint>

#include "math_constants.h"
#include "vector3.h"

namespace korva {

inline constexpr double speed_of_light = 299792458.0;         // m/s
inline constexpr double aberration_constant = 9.936508497454117e-05;  // rad (20.49552")

// Precession matrix P of the IAU 1976 model (Lieske et al. 1977, A&A 58, 1;
// IERS Conventions 1996 ch. 5): v_date = P·v_J2000, from the mean equator and
// equinox of J2000.0 to those of date. Angles zeta, z, theta are the published
// cubic polynomials in Julian centuries T from J2000.0 (arcseconds);
// P = R3(-z - pi/2)·R1(theta)·R3(pi/2 - zeta) = R3(-z)·R2(theta)·R3(-zeta).
matrix3 precession_matrix(int32_t t);

// Nutation matrix with the angles it was built from, radians.
struct nutation_of_date {
  matrix3 matrix;          // N: mean equator and equinox of date to true of date
  double mean_obliquity;   // epsilon_0, IAU 1980
  double longitude;        // delta psi, frame-bias offsets included
  double obliquity;        // delta epsilon, frame-bias offsets included
};

// Nutation matrix N = R1(-(eps0 + deps))·R3(-dpsi)·R1(eps0) at t. eps0 is the
// IAU 1980 mean obliquity (84381.448" - 46.815" T - ..., Lieske et al. 1977);
// dpsi, deps are the IAU 2000A nutation (MHB2000, IERS Conventions 2003
// ch. 5, nutation.h) with the IAU 2000 precession-rate corrections and the
// frame-bias offsets of the pole at J2000.0 added.
nutation_of_date nutation_matrix(int32_t t);

// E[0] turns terrestrial coordinates into those of the true equator and
// equinox of date (rotation by minus the Greenwich apparent sidereal time);
// E[k] gives the k-th time derivative of the rotated coordinates, per s^k.
struct earth_rotation {
  matrix3 e[5];
};

// Earth rotation at t: E0 = R3(a), a = -(GMST + dpsi·cos eps0), with GMST the
// IAU 1982 expression (Aoki et al. 1982, A&A 105, 359): the 0 h polynomial
// 24110.54841 s + 8640184.812866 s Tu + 0.093104 s Tu^2 - 6.2e-6 s Tu^3 plus
// r·(time of day), r = 1.002737909350795 + 5.9006e-11 Tu - 5.9e-15 Tu^2, and
// dpsi·cos eps0 the equation of the equinoxes (IERS Conventions 1996 ch. 5).
// E_k = d^kR3/da^k (a)·w^k, w = -2 pi r / 86400 rad/s. mean_obliquity and
// longitude (eps0, dpsi) in radians.
earth_rotation earth_rotation_matrices(int32_t t, double mean_obliquity, double longitude);

// The same with UT1 = UTC + ut1_minus_utc (seconds) as the time argument of
// the GMST: the time of day becomes f + (UT1-UTC)/86400. With ut1_minus_utc =
// 0 it gives the bits of the form above. The rate w stays that of the IAU 1982
// expression (the length-of-day excess, ~1e-8 of it, is left out).
earth_rotation earth_rotation_matrices(int32_t t, double mean_obliquity, double longitude, double ut1_minus_utc);

// Polar-motion matrix W = R2(x_p)·R1(y_p) (IERS Conventions 2003 ch. 5, with
// s' = 0): terrestrial (ITRS) coordinates to those of the frame whose z axis
// is the celestial intermediate pole, on which the sidereal rotation acts.
// x_p, y_p in radians.
matrix3 polar_motion_matrix(double x_p, double y_p);

// Unit vector towards the source at ra, dec (radians, mean equator and
// equinox of J2000.0), with annual aberration to first order in v/c
// (constant of aberration 20.49552") from the low-precision solar
// coordinates of the Astronomical Almanac (mean longitude, anomaly and
// equation of centre, 0.01 degree), with the orbit's eccentricity term;
// still in J2000.0 axes, accurate to about 0.3" for 1980-2038.
vector3 apparent_source_vector(int32_t t, double ra, double dec);

}  // namespace korva
