#include "rotations.h"

#include <cmath>

namespace korva {

namespace {

// Matrix whose upper-left 2x2 block is [p, q; r, s] (row by row), with the
// given element (3, 3) and zeros elsewhere in row 3 and column 3.
matrix3 z_block(double p, double q, double r, double s, double corner) {
  matrix3 m = scalar_identity(0.0);
  m(0, 0) = p;
  m(0, 1) = q;
  m(1, 0) = r;
  m(1, 1) = s;
  m(2, 2) = corner;
  return m;
}

}  // namespace

matrix3 rotation_x(double a) {
  const double c = std::cos(a), s = std::sin(a);
  matrix3 m = scalar_identity(1.0);
  m(1, 1) = c;
  m(1, 2) = s;
  m(2, 1) = -s;
  m(2, 2) = c;
  return m;
}

matrix3 rotation_y(double a) {
  const double c = std::cos(a), s = std::sin(a);
  matrix3 m = scalar_identity(1.0);
  m(0, 0) = c;
  m(0, 2) = -s;
  m(2, 0) = s;
  m(2, 2) = c;
  return m;
}

matrix3 rotation_z(double a) {
  const double c = std::cos(a), s = std::sin(a);
  return z_block(c, s, -s, c, 1.0);
}

matrix3 rotation_z_d1(double a) {
  const double c = std::cos(a), s = std::sin(a);
  return z_block(-s, c, -c, -s, 0.0);
}

matrix3 rotation_z_d2(double a) {
  const double c = std::cos(a), s = std::sin(a);
  return z_block(-c, -s, s, -c, 0.0);
}

matrix3 rotation_z_d3(double a) {
  const double c = std::cos(a), s = std::sin(a);
  return z_block(s, -c, c, s, 0.0);
}

matrix3 rotation_z_d4(double a) {
  const double c = std::cos(a), s = std::sin(a);
  return z_block(c, s, -s, c, 0.0);
}

}  // namespace korva
