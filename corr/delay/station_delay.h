// The geometric delay of one station for one source and UTC second, with its
// first four time derivatives (the record is in delay_record.h).
#pragma once

#include <cstdint>

#include "delay_record.h"
#include "schedule.h"

namespace korva {

// Delay of the wavefront at the station relative to the geocentre, seconds,
// with its Earth-rotation derivatives; the delay at t + dt is
// sum delay[k] dt^k / k!. Pure: every call recomputes the whole model.
station_delay compute_station_delay(const station_info& station, const source_info& source, int32_t t);

}  // namespace korva
