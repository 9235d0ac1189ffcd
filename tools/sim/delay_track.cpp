#include "delay_track.h"

#include <algorithm>
#include <cmath>

#include "taylor_series.h"

namespace korva::sim {

station_delay station_delay_at(const station_info& station, const source_info& source, int32_t t,
                               const earth_orientation_series* eop) {
  return compute_station_delay(compute_delay_frame(source.ra, source.dec, t, eop),
                               station_position{station.x, station.y, station.z});
}

bool eop_covers_process(const earth_orientation_series& eop, const process_info& process, std::string& error) {
  const int64_t first = int64_t{process.epoch} - 1;
  const int64_t last = int64_t{process.epoch} + std::max(process.length, 0);
  if (eop.has_span() && first >= eop.span().first && last <= eop.span().last) return true;
  error = "korva_sim: the $EOP lines do not cover the seconds " + std::to_string(first) + " to " +
          std::to_string(last) + " (UTC seconds since 1970) that the process needs, one on either side";
  if (eop.has_span()) {
    error += "; they cover " + std::to_string(eop.span().first) + " to " + std::to_string(eop.span().last);
  }
  return false;
}

delay_track::delay_track(const station_info& station, const source_info& source,
                         const station_clock& clock, int32_t process_epoch, bool with_clock,
                         const earth_orientation_series* eop)
    : station_(station),
      source_(source),
      clock_(clock),
      process_epoch_(process_epoch),
      with_clock_(with_clock),
      eop_(eop) {}

const station_delay& delay_track::model_of_second(int32_t second) {
  auto found = models_.find(second);
  if (found == models_.end()) {
    if (models_.size() > 64) models_.erase(models_.begin());  // walked past long ago
    found = models_.emplace(second, station_delay_at(station_, source_, second, eop_)).first;
  }
  return found->second;
}

delay_value delay_track::at(long double t) {
  const long double whole = std::floor(t);
  const int32_t second = process_epoch_ + static_cast<int32_t>(whole);
  // The correlator rounds the time within the second to a double.
  const long double within = static_cast<double>(t - whole);
  const station_delay& model = model_of_second(second);
  const long double dt_geo = static_cast<long double>(second - model.epoch) + within;
  delay_value v{taylor_series(dt_geo, model.delay), taylor_series_rate(dt_geo, model.delay)};
  if (with_clock_) {
    const long double dt_clk =
        static_cast<long double>(static_cast<int64_t>(second) - clock_.epoch) + within;
    v.tau += taylor_series(dt_clk, clock_.clock);
    v.rate += taylor_series_rate(dt_clk, clock_.clock);
  }
  return v;
}

long double delay_track::geocentre_time(long double t_station) {
  // Fixed-point iteration: |d tau/dt| is below 1e-5, so each step gains five
  // digits; four steps reach extended precision for any physical delay.
  long double t = t_station;
  for (int i = 0; i < 4; ++i) t = t_station - at(t).tau;
  return t;
}

}  // namespace korva::sim
