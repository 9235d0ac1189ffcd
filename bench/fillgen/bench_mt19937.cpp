// Filling one second of words: fillgen's bulk generator against the baseline
// of one std::mt19937 call per word, in the same run.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "mt19937.h"

namespace {

constexpr std::size_t words_per_second = 32000000;

void BM_StdMt19937PerWord(benchmark::State& state) {
  std::vector<uint32_t> words(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::mt19937 generator(0);
    for (uint32_t& w : words) w = static_cast<uint32_t>(generator());
    benchmark::DoNotOptimize(words.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0) * 4);
}

void BM_FillgenBulkFill(benchmark::State& state) {
  std::vector<uint32_t> words(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    fillgen::mt19937 generator(0);
    generator.fill(words.data(), words.size());
    benchmark::DoNotOptimize(words.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0) * 4);
}

BENCHMARK(BM_StdMt19937PerWord)->Arg(words_per_second)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillgenBulkFill)->Arg(words_per_second)->Unit(benchmark::kMillisecond);

}  // namespace
