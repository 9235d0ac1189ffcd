// TAI-UTC from the table of leap seconds compiled into the program (IERS
// Leap_Second.dat, converted by tools/eop/convert_leap_seconds.py).
#pragma once

#include <cstdint>

namespace korva {

// TAI-UTC in whole seconds at UTC second t (seconds since 1970, which do not
// count leap seconds: 23:59:60 and the 00:00:00 after it are the same t). The
// value of 1972-01-01 (10 s) stands for every earlier t, where TAI-UTC was not
// a whole number of seconds; the schedule refuses Earth orientation before it.
int32_t tai_minus_utc(int32_t t);

}  // namespace korva
