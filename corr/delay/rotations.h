// Frame rotations about the x, y and z axes and the derivatives of the z
// rotation with respect to its angle. The angle a is in radians; cos a and
// sin a are evaluated in double precision. A positive angle turns the axes
// counter-clockwise seen from the positive end of the axis: the result gives
// the coordinates of a fixed vector in the turned axes.
#pragma once

#include "vector3.h"

namespace korva {

// R1(a) = [1, 0, 0; 0, cos a, sin a; 0, -sin a, cos a].
matrix3 rotation_x(double a);

// R2(a) = [cos a, 0, -sin a; 0, 1, 0; sin a, 0, cos a].
matrix3 rotation_y(double a);

// R3(a) = [cos a, sin a, 0; -sin a, cos a, 0; 0, 0, 1].
matrix3 rotation_z(double a);

// dR3/da = [-sin a, cos a, 0; -cos a, -sin a, 0; 0, 0, 0] (per radian).
matrix3 rotation_z_d1(double a);

// d2R3/da2 = [-cos a, -sin a, 0; sin a, -cos a, 0; 0, 0, 0] (per radian squared).
matrix3 rotation_z_d2(double a);

// d3R3/da3 = [sin a, -cos a, 0; cos a, sin a, 0; 0, 0, 0] (per radian cubed).
matrix3 rotation_z_d3(double a);

// d4R3/da4 = [cos a, sin a, 0; -sin a, cos a, 0; 0, 0, 0] (per radian to the fourth).
matrix3 rotation_z_d4(double a);

}  // namespace korva
