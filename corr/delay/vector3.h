// Three-component vectors and 3x3 matrices of the delay model, with their
// products. Pure value functions: operands by value, a new value returned.
#pragma once

namespace korva {

// Components x, y, z in the caller's units (metres for positions, none for
// unit vectors).
struct vector3 {
  double x, y, z;
};

// Nine elements stored column by column: element (row i, column j) is m[3j + i].
struct matrix3 {
  double m[9];
  double operator()(int row, int column) const { return m[3 * column + row]; }
  double& operator()(int row, int column) { return m[3 * column + row]; }
};

// Matrix with d on the diagonal and 0 elsewhere (d = 1 is the identity).
matrix3 scalar_identity(double d);

// A·B: applied to a vector, B acts first, then A. Each element is summed in
// extended precision and stored once as a double.
matrix3 matrix_product(matrix3 a, matrix3 b);

// M·v: component i is the sum over j of element (i, j) times v_j, summed in
// extended precision.
vector3 matrix_vector_product(matrix3 m, vector3 v);

// a·b, summed in extended precision and stored as a double.
double vector_dot(vector3 a, vector3 b);

}  // namespace korva
