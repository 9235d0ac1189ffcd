// The Taylor series of delays and clocks against the expanded polynomial and
// its derivative.
#include "taylor_series.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace korva {
namespace {

// a0 + a1 t + a2 t^2/2 + a3 t^3/6 + a4 t^4/24, summed term by term.
long double expanded(long double t, const double (&a)[5]) {
  return a[0] + a[1] * t + a[2] * t * t / 2 + a[3] * t * t * t / 6 + a[4] * t * t * t * t / 24;
}

long double expanded_rate(long double t, const double (&a)[5]) {
  return a[1] + a[2] * t + a[3] * t * t / 2 + a[4] * t * t * t / 6;
}

TEST(TaylorSeries, AtTheEpochIsTheValueAndItsRate) {
  const double a[5] = {1.25e-3, -3.5e-7, 2e-12, 7e-15, -1e-19};
  EXPECT_EQ(taylor_series(0.0L, a), static_cast<long double>(a[0]));
  EXPECT_EQ(taylor_series_rate(0.0L, a), static_cast<long double>(a[1]));
}

TEST(TaylorSeries, AgreesWithTheExpandedPolynomialAndItsDerivative) {
  std::mt19937 generator(42);
  std::uniform_real_distribution<double> coefficient(-1.0, 1.0);
  std::uniform_real_distribution<double> time(-2.0, 2.0);
  for (int n = 0; n < 1000; ++n) {
    // Delay-like magnitudes: each derivative much smaller than the last.
    const double a[5] = {2e-2 * coefficient(generator), 3e-6 * coefficient(generator),
                         2e-10 * coefficient(generator), 1e-14 * coefficient(generator),
                         1e-18 * coefficient(generator)};
    const long double t = time(generator);
    // Only the widened double 1/3 differs from the exact series: 2^-54
    // relative in the cubic term.
    EXPECT_LT(static_cast<double>(std::fabs(taylor_series(t, a) - expanded(t, a))), 1e-19) << double(t);
    EXPECT_LT(static_cast<double>(std::fabs(taylor_series_rate(t, a) - expanded_rate(t, a))), 1e-23) << double(t);
  }
}

TEST(TaylorSeries, RateIsTheSlopeOfTheSeries) {
  const double a[5] = {1e-3, 2e-6, -3e-10, 4e-14, 5e-18};
  for (long double t : {-0.75L, 0.0L, 0.5L, 1.0L}) {
    const long double h = 1e-4L;
    const long double central = (taylor_series(t + h, a) - taylor_series(t - h, a)) / (2 * h);
    EXPECT_NEAR(static_cast<double>(taylor_series_rate(t, a)), static_cast<double>(central), 1e-17);
  }
}

}  // namespace
}  // namespace korva
