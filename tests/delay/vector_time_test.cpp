// Vectors, matrices, rotations and time conversions of the delay model.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "rotations.h"
#include "time_conversions.h"
#include "vector3.h"

namespace korva {
namespace {

constexpr double tight = 1e-15;  // a few units in the last place of values near 1

void expect_matrix_near(const matrix3& a, const matrix3& b, double tolerance) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(a(i, j), b(i, j), tolerance) << "element " << i << "," << j;
}

TEST(Matrix3, StorageIsColumnMajor) {
  matrix3 m = scalar_identity(0.0);
  m(1, 2) = 5.0;
  EXPECT_EQ(m.m[3 * 2 + 1], 5.0);
  // Row 0 of R3(a) is (cos a, sin a, 0): sin a sits in column 1, position 3.
  const matrix3 r = rotation_z(0.3);
  EXPECT_EQ(r.m[3], std::sin(0.3));
  EXPECT_EQ(r.m[1], -std::sin(0.3));
}

TEST(Matrix3, ScalarIdentityAndProducts) {
  const matrix3 zero = scalar_identity(0.0);
  for (double e : zero.m) EXPECT_EQ(e, 0.0);
  const matrix3 m{{1, 2, 3, 4, 5, 6, 7, 8, 10}};
  const matrix3 im = matrix_product(scalar_identity(1.0), m);
  const matrix3 mi = matrix_product(m, scalar_identity(1.0));
  for (int k = 0; k < 9; ++k) {
    EXPECT_EQ(im.m[k], m.m[k]);
    EXPECT_EQ(mi.m[k], m.m[k]);
  }
  // A·B applied to v is A(B v): B acts first.
  const matrix3 a = rotation_x(0.7), b = rotation_z(-1.1);
  const vector3 v{0.3, -2.0, 1.5};
  const vector3 left = matrix_vector_product(matrix_product(a, b), v);
  const vector3 right = matrix_vector_product(a, matrix_vector_product(b, v));
  EXPECT_NEAR(left.x, right.x, 4 * tight);
  EXPECT_NEAR(left.y, right.y, 4 * tight);
  EXPECT_NEAR(left.z, right.z, 4 * tight);
  // Component i is the sum over j of element (i, j) times v_j.
  const vector3 mv = matrix_vector_product(m, v);
  EXPECT_NEAR(mv.x, 1 * 0.3 + 4 * -2.0 + 7 * 1.5, 8 * tight);
  EXPECT_NEAR(mv.y, 2 * 0.3 + 5 * -2.0 + 8 * 1.5, 8 * tight);
  EXPECT_NEAR(mv.z, 3 * 0.3 + 6 * -2.0 + 10 * 1.5, 8 * tight);
}

TEST(Matrix3, SumsAreExtendedPrecision) {
  // 1 + 2^-60 - 1 is lost in double but kept by a 64-bit significand.
  const double small = std::ldexp(1.0, -60);
  const vector3 a{1.0, small, -1.0}, b{1.0, 1.0, 1.0};
  EXPECT_EQ(vector_dot(a, b), small);
  const matrix3 m{{1.0, 0, 0, small, 0, 0, -1.0, 0, 0}};
  EXPECT_EQ(matrix_vector_product(m, b).x, small);
  const matrix3 ones{{1, 1, 1, 1, 1, 1, 1, 1, 1}};
  EXPECT_EQ(matrix_product(m, ones)(0, 0), small);
}

TEST(Rotations, TurnTheAxesNotTheVector) {
  const vector3 v = matrix_vector_product(rotation_z(std::numbers::pi / 2), vector3{1, 0, 0});
  EXPECT_NEAR(v.x, 0.0, tight);
  EXPECT_NEAR(v.y, -1.0, tight);
  EXPECT_EQ(v.z, 0.0);
  const vector3 w = matrix_vector_product(rotation_x(std::numbers::pi / 2), vector3{0, 1, 0});
  EXPECT_NEAR(w.y, 0.0, tight);
  EXPECT_NEAR(w.z, -1.0, tight);
}

TEST(Rotations, ZRotationsAddTheirAngles) {
  for (double a : {-3.0, -0.4, 0.0, 1.2, 2.9})
    for (double b : {-2.2, 0.1, 0.9, 3.1})
      expect_matrix_near(matrix_product(rotation_z(a), rotation_z(b)), rotation_z(a + b), 4 * tight);
}

TEST(Rotations, DerivativesMatchNumericalDifferences) {
  // Central differences of each matrix approximate the next derivative to
  // about h^2/6 of the third derivative (~2e-9) plus rounding (~1e-16/h).
  const double h = 1e-4;
  using rotation = matrix3 (*)(double);
  const rotation chain[5] = {rotation_z, rotation_z_d1, rotation_z_d2, rotation_z_d3, rotation_z_d4};
  for (double a : {-2.5, 0.3, 1.9}) {
    for (int k = 0; k < 4; ++k) {
      const matrix3 up = chain[k](a + h), down = chain[k](a - h), d = chain[k + 1](a);
      for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j) EXPECT_NEAR((up(i, j) - down(i, j)) / (2 * h), d(i, j), 1e-8);
    }
  }
}

TEST(Rotations, DerivativeShapes) {
  for (double a : {-1.3, 0.0, 0.8, 2.6}) {
    const matrix3 r = rotation_z(a), d2 = rotation_z_d2(a), d4 = rotation_z_d4(a);
    for (const matrix3& d : {rotation_z_d1(a), d2, rotation_z_d3(a), d4}) {
      for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(d(2, k), 0.0);
        EXPECT_EQ(d(k, 2), 0.0);
      }
    }
    for (int i = 0; i < 2; ++i) {
      for (int j = 0; j < 2; ++j) {
        EXPECT_EQ(d2(i, j), -r(i, j));
        EXPECT_EQ(d4(i, j), r(i, j));
      }
    }
    EXPECT_EQ(r(2, 2), 1.0);
  }
}

TEST(TimeConversions, J2000AndMidnightValues) {
  EXPECT_EQ(centuries_since_j2000(j2000_unix_seconds), 0.0);
  EXPECT_EQ(day_fraction(j2000_unix_seconds), 0.5);
  EXPECT_EQ(julian_date_of(j2000_unix_seconds), 2451545.0);
  EXPECT_EQ(julian_date_of(j2000_unix_seconds - 43200), 2451544.5);
  EXPECT_EQ(julian_date_of(0), 2440587.5);  // 1970-01-01 00:00:00
  EXPECT_EQ(day_fraction(0), 0.0);
  EXPECT_EQ(day_fraction(j2000_unix_seconds - 43200), 0.0);
  EXPECT_EQ(centuries_since_j2000(j2000_unix_seconds + 36525 / 4 * 86400 + 21600), 0.25);
  // The 0 h before noon of 2000-01-01 lies half a day before J2000.0 until the
  // next midnight, then half a day after it.
  EXPECT_NEAR(centuries_since_j2000_at_0h(j2000_unix_seconds), -0.5 / 36525, 1e-19);
  EXPECT_NEAR(centuries_since_j2000_at_0h(j2000_unix_seconds + 43199), -0.5 / 36525, 1e-19);
  EXPECT_NEAR(centuries_since_j2000_at_0h(j2000_unix_seconds + 43200), 0.5 / 36525, 1e-19);
}

TEST(TimeConversions, WholeEpochRangeWithoutOverflow) {
  // 2038-01-19 03:14:07, the last 32-bit second: 2038-01-19 00:00 is 13897.5
  // days after 2000-01-01 12:00 (38 years with 10 leap days, plus 18 days).
  const int32_t last = INT32_MAX;
  EXPECT_NEAR(julian_date_of(last), 2451545.0 + 13897.5 + (3 * 3600 + 14 * 60 + 7) / 86400.0, 1e-9);
  EXPECT_NEAR(day_fraction(last), (3 * 3600 + 14 * 60 + 7) / 86400.0, 1e-12);
  // 1901-12-13, the first 32-bit second: the subtraction must not wrap.
  EXPECT_NEAR(centuries_since_j2000(INT32_MIN), (INT32_MIN - 946728000.0) / 86400 / 36525, 1e-15);
  // The day fraction is the time of day to better than 1e-10 s anywhere.
  for (int32_t t = 1; t < INT32_MAX - 86400 * 997; t += 86400 * 997 + 12345) {
    EXPECT_NEAR(day_fraction(t) * 86400, t % 86400, 1e-9) << t;
  }
}

}  // namespace
}  // namespace korva
