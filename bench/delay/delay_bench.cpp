// Cost of one geometric delay evaluation and of one nutation evaluation, the
// part that dominates it. The correlator makes one delay call per station,
// stream and second, so one call should stay well below 100 microseconds.
#include <benchmark/benchmark.h>

#include <cstring>

#include "nutation.h"
#include "station_delay.h"

namespace {

void compute_station_delay_once(benchmark::State& state) {
  korva::station_info station{};
  std::strcpy(station.name, "BENCH");
  station.x = -2353621.22;
  station.y = -4641341.47;
  station.z = 3677052.32;
  korva::source_info source{};
  std::strcpy(source.name, "SRC");
  source.ra = 1.2;
  source.dec = 0.4;
  int32_t t = 1300000000;
  for (auto _ : state) {
    benchmark::DoNotOptimize(korva::compute_station_delay(station, source, t));
    ++t;
  }
}
BENCHMARK(compute_station_delay_once)->Unit(benchmark::kMicrosecond);

void nutation_total_once(benchmark::State& state) {
  double jd = 2455000.5;
  for (auto _ : state) {
    benchmark::DoNotOptimize(korva::nutation_total(jd));
    jd += 1.0 / 86400;
  }
}
BENCHMARK(nutation_total_once)->Unit(benchmark::kMicrosecond);

}  // namespace
