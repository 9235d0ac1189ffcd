// IAU 2000A nutation in the MHB2000 formulation (Mathews, Herring & Buffett
// 2002, J. Geophys. Res. 107, B4; IERS Conventions 2003 ch. 5, tables 5.3a and
// 5.3b): luni-solar series of 678 terms, planetary series of 687 terms, the
// IAU 2000 precession-rate corrections (-0.29965"/cy, -0.02524"/cy) and the
// celestial-pole offsets of the frame bias at J2000.0 (-41.775, -6.8192 mas);
// no free-core-nutation term. Epochs are Julian dates (IEEE double, UTC
// standing in for TT); angles out are milliarcseconds (mas). Fundamental
// arguments follow Simon et al. 1994 as given in the Conventions. Sums are
// taken last row first, products in extended precision, sines, cosines and
// remainders in double. Pure functions of the epoch and of constant tables.
#pragma once

#include <array>

namespace korva {

// Offsets of the celestial pole at J2000.0 (frame bias), mas.
inline constexpr double frame_bias_longitude_mas = -41.775;
inline constexpr double frame_bias_obliquity_mas = -6.8192;

// A pair of nutation angles, mas.
struct nutation_angles {
  double longitude;  // delta psi
  double obliquity;  // delta epsilon
};

// Every part of the nutation of date and its total, mas.
struct nutation_components {
  nutation_angles luni_solar;
  nutation_angles planetary;
  nutation_angles precession_rate;
  nutation_angles total;  // the three above plus the frame-bias offsets
};

// Delaunay arguments l, l', F, D, Om in radians.
using luni_solar_argument_set = std::array<double, 5>;

// Planetary-series arguments l, l', F, D, Om, Me, Ve, E, Ma, Ju, Sa, Ur, Ne,
// pA in radians.
using planetary_argument_set = std::array<double, 14>;

// Julian centuries from J2000.0 (JD 2451545.0) to the Julian date jd.
double centuries_of_julian_date(double jd);

// Delaunay arguments at jd, radians: polynomials in T in arcseconds, reduced
// by the remainder of 1296000" (sign kept), then converted to radians.
luni_solar_argument_set luni_solar_arguments(double jd);

// Luni-solar nutation at jd, mas.
nutation_angles luni_solar_nutation(double jd);

// Planetary-series arguments at jd, radians, linear in T and not reduced.
planetary_argument_set planetary_arguments(double jd);

// Planetary series summed for the given arguments, mas.
nutation_angles planetary_series_sum(const planetary_argument_set& arguments);

// Planetary nutation at jd, mas.
nutation_angles planetary_nutation(double jd);

// IAU 2000 corrections to the precession rates at jd, mas.
nutation_angles precession_rate_correction(double jd);

// Luni-solar, planetary and precession-rate parts at jd and their total with
// the frame-bias offsets, mas.
nutation_components nutation_total(double jd);

}  // namespace korva
