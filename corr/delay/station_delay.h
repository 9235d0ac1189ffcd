// The geometric delay of one station for one source and UTC second, with its
// first four time derivatives. The 48 bytes are also a field of every record
// of the correlation output files, so the layout is fixed.
#pragma once

#include <cstdint>

#include "schedule.h"

namespace korva {

struct station_delay {
  int32_t epoch;    // UTC second t at which the model was evaluated
  int32_t zero;     // always 0
  double delay[5];  // delay (s) and its derivatives (s/s .. s/s^4) at t
};
static_assert(sizeof(station_delay) == 48);

// Delay of the wavefront at the station relative to the geocentre, seconds,
// with its Earth-rotation derivatives; the delay at t + dt is
// sum delay[k] dt^k / k!. Pure: every call recomputes the whole model.
station_delay compute_station_delay(const station_info& station, const source_info& source, int32_t t);

}  // namespace korva
