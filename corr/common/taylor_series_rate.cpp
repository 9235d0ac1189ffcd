#include "taylor_series.h"

namespace korva {

long double taylor_series_rate(long double dt, const double (&a)[5]) {
  return a[1] + dt * (a[2] + 0.5L * dt * (a[3] + (1.0L / 3.0L) * dt * a[4]));
}

}  // namespace korva
