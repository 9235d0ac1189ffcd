// The Taylor series of the delay model and of the station clocks: a value and
// its first four time derivatives at an epoch, evaluated dt seconds later in
// extended precision. The order of operations is part of the output files'
// contract: the engine and the simulator evaluate it here, the same way.
#pragma once

namespace korva {

// a0 + dt (a1 + dt/2 (a2 + dt/3 (a3 + dt/4 a4))), innermost first; the factor
// 1/3 is the double nearest 1/3, widened. Units: a[k] in s/s^k, dt in s.
// Inline: the worker evaluates it twice per station and segment.
inline long double taylor_series(long double dt, const double (&a)[5]) {
  const long double third = 1.0 / 3.0;  // the double nearest 1/3, widened
  long double inner = a[3] + 0.25L * dt * a[4];
  inner = a[2] + third * dt * inner;
  inner = a[1] + 0.5L * dt * inner;
  return a[0] + dt * inner;
}

// Its time derivative a1 + dt (a2 + dt/2 (a3 + dt/3 a4)), with 1/3 in extended
// precision, in s/s.
long double taylor_series_rate(long double dt, const double (&a)[5]);

}  // namespace korva
