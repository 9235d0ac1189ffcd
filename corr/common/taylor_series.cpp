#include "taylor_series.h"

namespace korva {

long double taylor_series(long double dt, const double (&a)[5]) {
  const long double third = 1.0 / 3.0;  // the double nearest 1/3, widened
  long double inner = a[3] + 0.25L * dt * a[4];
  inner = a[2] + third * dt * inner;
  inner = a[1] + 0.5L * dt * inner;
  return a[0] + dt * inner;
}

}  // namespace korva
