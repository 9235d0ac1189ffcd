// The delay of one station's recording against geocentre time, as the
// correlator models it: the geometric delay (Taylor series about each whole
// second) plus, unless left out, the station's clock polynomial.
//
// Times are seconds from the process epoch, extended precision. The recording
// at station time t' holds the wavefront that passed the geocentre at the t
// for which t + tau(t) = t'.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "schedule.h"
#include "station_delay.h"

namespace korva::sim {

struct delay_value {
  long double tau;   // seconds
  long double rate;  // seconds per second
};

class delay_track {
 public:
  // eop: the Earth orientation the data are to carry (nullptr: UTC for UT1,
  // no polar motion, as the correlator without "$EOP" lines); it must cover
  // every second asked for (eop_covers_process).
  delay_track(const station_info& station, const source_info& source, const station_clock& clock,
              int32_t process_epoch, bool with_clock, const earth_orientation_series* eop = nullptr);

  // Delay and its rate at geocentre time t.
  delay_value at(long double t);

  // Geocentre time whose wavefront the station records at station time t_station.
  long double geocentre_time(long double t_station);

 private:
  const station_delay& model_of_second(int32_t second);

  station_info station_;
  source_info source_;
  station_clock clock_;
  int32_t process_epoch_;
  bool with_clock_;
  const earth_orientation_series* eop_;
  std::map<int32_t, station_delay> models_;  // by UTC second
};

// The correlator's delay model of a schedule station and source at second t.
station_delay station_delay_at(const station_info& station, const source_info& source, int32_t t,
                               const earth_orientation_series* eop = nullptr);

// Whether eop covers every second the simulation of the process evaluates:
// the process's seconds and one on either side (geocentre times run up to a
// station's delay, 21 ms, outside them). False with a one-line message.
bool eop_covers_process(const earth_orientation_series& eop, const process_info& process, std::string& error);

}  // namespace korva::sim
