// Channel interleave of one frame's data array (8000 bytes): byte tables
// against the BMI2 bit extract, the field split of single-channel threads
// and a plain copy, for the usual layouts (args: thread channels, raw
// channels, method 1 copy, 2 tables, 3 bit extract, 4 field split).
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "channel_interleaver.h"

namespace {

using korva::vdif::channel_interleaver;
using korva::vdif::interleave_method;

// args: thread channels, raw channels, method
void BM_Interleave(benchmark::State& state) {
  const int thread_channels = static_cast<int>(state.range(0)), raw_channels = static_cast<int>(state.range(1));
  const auto method = static_cast<interleave_method>(state.range(2));
  if (method == interleave_method::bit_extract && !korva::vdif::processor_has_bmi2()) {
    state.SkipWithError("no BMI2");
    return;
  }
  std::vector<int> map(static_cast<size_t>(thread_channels));
  for (int c = 0; c < thread_channels; ++c) map[static_cast<size_t>(c)] = c;
  channel_interleaver interleaver(2, thread_channels, raw_channels, map, method);
  std::vector<uint8_t> data(8000);
  std::mt19937 random(1);
  for (auto& b : data) b = static_cast<uint8_t>(random());
  std::vector<uint32_t> out(interleaver.output_words(data.size()));
  for (auto _ : state) {
    interleaver.convert(data.data(), data.size(), out.data());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 8000);
}

constexpr int64_t copy = static_cast<int64_t>(interleave_method::copy);
constexpr int64_t tables = static_cast<int64_t>(interleave_method::tables);
constexpr int64_t extract = static_cast<int64_t>(interleave_method::bit_extract);
constexpr int64_t split = static_cast<int64_t>(interleave_method::field_split);

BENCHMARK(BM_Interleave)->Args({1, 1, copy})->Args({1, 1, tables})->Args({1, 1, extract});
BENCHMARK(BM_Interleave)->Args({1, 8, tables})->Args({1, 8, extract})->Args({1, 8, split});  // one thread of 8 channel-threads
BENCHMARK(BM_Interleave)->Args({8, 8, tables})->Args({8, 8, extract});  // one thread of 8 channels
BENCHMARK(BM_Interleave)->Args({4, 4, tables})->Args({4, 4, extract});

}  // namespace

BENCHMARK_MAIN();
