// The 48-byte delay record: the geometric delay model of one station at one
// UTC second, as computed by the delay model and as stored in every record of
// the correlation output files, so the layout is fixed.
#pragma once

#include <cstdint>

namespace korva {

struct station_delay {
  int32_t epoch;    // UTC second t at which the model was evaluated
  int32_t zero;     // always 0
  double delay[5];  // delay (s) and its derivatives (s/s .. s/s^4) at t
};
static_assert(sizeof(station_delay) == 48);

}  // namespace korva
