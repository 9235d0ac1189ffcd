#include "vector3.h"

namespace korva {

matrix3 scalar_identity(double d) {
  return matrix3{{d, 0.0, 0.0, 0.0, d, 0.0, 0.0, 0.0, d}};
}

matrix3 matrix_product(matrix3 a, matrix3 b) {
  matrix3 c{};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      long double sum = 0.0L;
      for (int k = 0; k < 3; ++k) sum += static_cast<long double>(a(i, k)) * b(k, j);
      c(i, j) = static_cast<double>(sum);
    }
  }
  return c;
}

vector3 matrix_vector_product(matrix3 m, vector3 v) {
  const long double x = v.x, y = v.y, z = v.z;
  auto row = [&](int i) { return static_cast<double>(m(i, 0) * x + m(i, 1) * y + m(i, 2) * z); };
  return vector3{row(0), row(1), row(2)};
}

double vector_dot(vector3 a, vector3 b) {
  const long double sum = static_cast<long double>(a.x) * b.x + static_cast<long double>(a.y) * b.y +
                          static_cast<long double>(a.z) * b.z;
  return static_cast<double>(sum);
}

}  // namespace korva
