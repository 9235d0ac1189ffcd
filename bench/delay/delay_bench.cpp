// Cost of the station-independent delay frame, of one station's delay from it,
// and of the nutation series that dominates the frame. The correlator makes
// one frame per source and second and one station delay per station.
#include <benchmark/benchmark.h>

#include "nutation.h"
#include "station_delay.h"

namespace {

const korva::station_position bench_station{-2353621.22, -4641341.47, 3677052.32};

// The station-independent frame: nutation series, precession, rotation and
// aberration, once per source and second.
void compute_delay_frame_once(benchmark::State& state) {
  int32_t t = 1300000000;
  for (auto _ : state) {
    benchmark::DoNotOptimize(korva::compute_delay_frame(1.2, 0.4, t));
    ++t;
  }
}
BENCHMARK(compute_delay_frame_once)->Unit(benchmark::kMicrosecond);

// The per-station part, from a frame already made.
void compute_station_delay_from_frame(benchmark::State& state) {
  const korva::delay_frame frame = korva::compute_delay_frame(1.2, 0.4, 1300000000);
  for (auto _ : state) benchmark::DoNotOptimize(korva::compute_station_delay(frame, bench_station));
}
BENCHMARK(compute_station_delay_from_frame)->Unit(benchmark::kMicrosecond);

void nutation_total_once(benchmark::State& state) {
  double jd = 2455000.5;
  for (auto _ : state) {
    benchmark::DoNotOptimize(korva::nutation_total(jd));
    jd += 1.0 / 86400;
  }
}
BENCHMARK(nutation_total_once)->Unit(benchmark::kMicrosecond);

}  // namespace
