// The geometric delay of one station for one source and UTC second, with its
// first four time derivatives (the record itself is in delay_record.h).
//
// The model is split in two. compute_delay_frame does everything that does not
// depend on the station (IAU 1976 precession, IAU 2000A nutation, the IAU 1982
// sidereal rotation and its derivatives, the aberrated source direction) once
// per source and second; compute_station_delay then costs five small products
// per station. Together they give the same bits as evaluating the whole chain
// for every station.
//
// Arithmetic contract: sums and products in x87 extended precision (64-bit
// significand), results stored as doubles at each assignment, no fused
// multiply-add (the build uses -ffp-contract=off). This is what keeps the
// delay records, and so the output files, identical across builds.
#pragma once

#include <cstdint>

#include "delay_record.h"
#include "earth_orientation.h"
#include "vector3.h"

namespace korva {

// Geocentric position in the terrestrial frame, metres.
struct station_position {
  double x, y, z;
};

// The station-independent part of the model at one source and UTC second.
struct delay_frame {
  int32_t epoch;            // UTC second t the frame holds for
  vector3 source_of_date;   // unit vector to the source, true equator and equinox of date
  matrix3 rotation[5];      // terrestrial position to true of date, and its k-th time derivatives (per s^k)
};

// Frame of the source at ra, dec (radians, mean equator and equinox of
// J2000.0) at UTC second t. Pure; evaluates the nutation series once.
delay_frame compute_delay_frame(double ra, double dec, int32_t t);

// The same with Earth orientation: with eop, the sidereal rotation takes UT1 =
// UTC + (UT1-UTC)(t) as its time argument, and the polar-motion matrix W(x_p,
// y_p) acts on the station position before it (rotation[k] = E_k·W); the
// derivatives stay those of the rotation alone. t must lie in eop's span.
// With nullptr it is the form above, bit for bit.
delay_frame compute_delay_frame(double ra, double dec, int32_t t, const earth_orientation_series* eop);

// Delay of the wavefront at the station relative to the geocentre, seconds,
// with its Earth-rotation derivatives (s/s .. s/s^4): delay[k] =
// (s_of_date · E_k x) / -c. The delay at t + dt is sum delay[k] dt^k / k!;
// the source direction, precession and nutation are held at their values for
// t. Pure; cannot fail.
station_delay compute_station_delay(const delay_frame& frame, const station_position& station);

}  // namespace korva
