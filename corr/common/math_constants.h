// Constants shared by the delay model, the schedule reader, the kernels and
// the simulator: one definition each, as the double nearest the true value.
#pragma once

namespace korva {

inline constexpr double pi = 3.141592653589793;
inline constexpr double two_pi = 6.283185307179586;

}  // namespace korva
