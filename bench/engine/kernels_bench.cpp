// Benchmarks of the sample decoders (samples per second) and the spectrum
// kernels (bins per second), each next to a baseline run in the same program:
//  - decoders: a plain read and sum of the same words;
//  - kernels: a straightforward scalar loop of the same formula, and every
//    vector width this CPU runs (rotate_spectrum/<path>/n) next to the
//    portable SSE path (ratios.py prints both ratios);
//  - for scale, store_floats_baseline: a scalar loop that only stores one
//    float per sample, the least any decoder must write.
// The baselines are kept out of line and compiled without the vectoriser
// (noinline, optimize("no-tree-vectorize")), so the compiler cannot turn
// them into the vector kernels they are measured against.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "kernel_paths.h"
#include "sample_decoders.h"
#include "spectrum_kernels.h"

namespace {

#define KORVA_SCALAR_BASELINE __attribute__((noinline, optimize("no-tree-vectorize")))

KORVA_SCALAR_BASELINE uint32_t sum_words(const uint32_t* words, int32_t count) {
  uint32_t sum = 0;
  for (int32_t w = 0; w < count; ++w) sum += words[w];
  return sum;
}

KORVA_SCALAR_BASELINE void store_floats(float* out, int32_t n, float value) {
  for (int32_t i = 0; i < n; ++i) out[i] = value;
}

// The tables every rotation of the benchmark reads.
const korva::phase_tables& phase_lookup() {
  static const korva::phase_tables tables;
  return tables;
}

KORVA_SCALAR_BASELINE void scalar_rotate(const float* in, float* out, uint64_t phase, uint64_t step,
                                         int32_t n) {
  for (int32_t k = 0; k < n - n % 2; ++k) {
    const uint64_t p = phase + static_cast<uint64_t>(k - k % 2) * step;
    const float si = phase_lookup().sin[p >> 56];
    const float co = phase_lookup().cos[p >> 56];
    const float re = in[2 * k], im = in[2 * k + 1];
    out[2 * k] = re * co - im * si;
    out[2 * k + 1] = im * co + re * si;
  }
}

KORVA_SCALAR_BASELINE void scalar_multiply_accumulate(const float* a, const float* b, float* acc,
                                                      int32_t n) {
  for (int32_t k = 0; k < n - n % 2; ++k) {
    const float ar = a[2 * k], ai = a[2 * k + 1], br = b[2 * k], bi = b[2 * k + 1];
    acc[2 * k] = (acc[2 * k] + ar * br) + ai * bi;
    acc[2 * k + 1] = (acc[2 * k + 1] - ar * bi) + ai * br;
  }
}

// 16-byte aligned float storage.
struct aligned_floats {
  explicit aligned_floats(size_t count)
      : data(static_cast<float*>(std::aligned_alloc(16, (count * 4 + 15) / 16 * 16))) {
    std::mt19937 random(count);
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    for (size_t i = 0; i < count; ++i) data[i] = value(random);
  }
  ~aligned_floats() { std::free(data); }
  aligned_floats(const aligned_floats&) = delete;
  aligned_floats& operator=(const aligned_floats&) = delete;
  float* data;
};

std::vector<uint32_t> random_words(size_t count) {
  std::mt19937 random(99u);
  std::vector<uint32_t> words(count);
  for (uint32_t& w : words) w = random();
  return words;
}

struct mode {
  const char* name;
  int bits;
  int channels;
};
constexpr mode all_modes[] = {{"decode_1bit_1ch", 1, 1},  {"decode_1bit_2ch", 1, 2},
                              {"decode_1bit_4ch", 1, 4},  {"decode_1bit_8ch", 1, 8},
                              {"decode_1bit_16ch", 1, 16}, {"decode_2bit_1ch", 2, 1},
                              {"decode_2bit_2ch", 2, 2},  {"decode_2bit_4ch", 2, 4},
                              {"decode_2bit_8ch", 2, 8},  {"decode_2bit_16ch", 2, 16}};

void decode_samples(benchmark::State& state, mode m, korva::kernel_path path) {
  const int32_t n = static_cast<int32_t>(state.range(0));
  const int32_t words_needed = n / (32 / (m.bits * m.channels));
  const std::vector<uint32_t> words = random_words(words_needed);
  aligned_floats out(n);
  const korva::sample_decoder decode = korva::select_sample_decoder(m.bits, m.channels, path);
  for (auto _ : state) {
    decode(words.data(), out.data, n, m.channels - 1);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n);
}

void read_same_words(benchmark::State& state, mode m) {
  const int32_t n = static_cast<int32_t>(state.range(0));
  const int32_t words_needed = n / (32 / (m.bits * m.channels));
  const std::vector<uint32_t> words = random_words(words_needed);
  for (auto _ : state) {
    benchmark::DoNotOptimize(sum_words(words.data(), words_needed));
  }
  state.SetItemsProcessed(state.iterations() * n);  // the samples those words hold
}

void store_same_count(benchmark::State& state) {
  const int32_t n = static_cast<int32_t>(state.range(0));
  aligned_floats out(n);
  for (auto _ : state) {
    store_floats(out.data, n, -1.5f);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n);
}

// kernels == nullptr: the scalar baseline.
void rotate(benchmark::State& state, const korva::spectrum_kernel_set* kernels) {
  const int32_t n = static_cast<int32_t>(state.range(0));
  const korva::phase_tables& tables = phase_lookup();
  aligned_floats in(2 * n), out(2 * n);
  uint64_t phase = 0x0123456789ABCDEFULL;
  const uint64_t step = 0x00F0F0F0F0F0F0F1ULL;
  for (auto _ : state) {
    if (kernels != nullptr) {
      kernels->rotate(tables, in.data, out.data, phase, step, n);
    } else {
      scalar_rotate(in.data, out.data, phase, step, n);
    }
    benchmark::ClobberMemory();
    phase += 0x9E3779B97F4A7C15ULL;
  }
  state.SetItemsProcessed(state.iterations() * n);
}

void multiply_accumulate(benchmark::State& state, const korva::spectrum_kernel_set* kernels) {
  const int32_t n = static_cast<int32_t>(state.range(0));
  aligned_floats a(2 * n), b(2 * n), acc(2 * n);
  for (auto _ : state) {
    if (kernels != nullptr) {
      kernels->multiply_accumulate(a.data, b.data, acc.data, n);
    } else {
      scalar_multiply_accumulate(a.data, b.data, acc.data, n);
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n);
}

// One segment's pair walk of ten stations (55 pairs) at the given bin count,
// in blocks of `block` bins (block >= bins: pair after pair over all bins),
// as the worker walks them. Items: accumulated bins of all pairs.
void pair_walk(benchmark::State& state) {
  const int32_t bins = static_cast<int32_t>(state.range(0));
  const int32_t block = static_cast<int32_t>(state.range(1));
  constexpr int stations = 10;
  std::vector<std::unique_ptr<aligned_floats>> spectra, sums;
  for (int s = 0; s < stations; ++s) spectra.push_back(std::make_unique<aligned_floats>(2 * bins + 4));
  for (int p = 0; p < stations * (stations + 1) / 2; ++p) sums.push_back(std::make_unique<aligned_floats>(2 * bins + 4));
  const korva::multiply_accumulate_kernel accumulate = korva::active_spectrum_kernels().multiply_accumulate;
  for (auto _ : state) {
    for (int32_t first = 0; first < bins; first += block) {
      const int32_t count = bins - first < block ? bins - first : block;
      int p = 0;
      for (int i = 0; i < stations; ++i) {
        for (int j = i; j < stations; ++j, ++p) {
          accumulate(spectra[i]->data + 2 * first, spectra[j]->data + 2 * first, sums[p]->data + 2 * first, count);
        }
      }
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * bins * 55);
}

void register_all() {
  for (const mode& m : all_modes) {
    for (korva::kernel_path path : {korva::kernel_path::sse, korva::kernel_path::avx2}) {
      if (!korva::kernel_path_supported(path)) continue;
      benchmark::RegisterBenchmark((std::string(m.name) + "/" + korva::kernel_path_name(path)).c_str(), decode_samples,
                                   m, path)
          ->Arg(4096)
          ->Arg(65536);
    }
    benchmark::RegisterBenchmark((std::string(m.name) + "_baseline_read").c_str(), read_same_words, m)
        ->Arg(4096)
        ->Arg(65536);
  }
  benchmark::RegisterBenchmark("store_floats_baseline", store_same_count)->Arg(4096)->Arg(65536);
  static korva::spectrum_kernel_set paths[std::size(korva::all_kernel_paths)];
  int count = 0;
  for (korva::kernel_path path : korva::all_kernel_paths) {
    if (korva::kernel_path_supported(path)) paths[count++] = korva::spectrum_kernels_of(path);
  }
  for (int k = 0; k < count; ++k) {
    const std::string suffix = std::string("/") + korva::kernel_path_name(paths[k].path);
    benchmark::RegisterBenchmark(("rotate_spectrum" + suffix).c_str(), rotate, &paths[k])
        ->RangeMultiplier(4)
        ->Range(128, 32768);
    benchmark::RegisterBenchmark(("cross_multiply_accumulate" + suffix).c_str(), multiply_accumulate, &paths[k])
        ->RangeMultiplier(4)
        ->Range(128, 32768);
  }
  for (int bins : {512, 32768}) {
    for (int block : {256, 1024, 4096, 1 << 20}) {
      benchmark::RegisterBenchmark("pair_walk_10_stations", pair_walk)->Args({bins, block});
    }
  }
  benchmark::RegisterBenchmark("rotate_spectrum_baseline_scalar", rotate, nullptr)->RangeMultiplier(4)->Range(128, 32768);
  benchmark::RegisterBenchmark("cross_multiply_accumulate_baseline_scalar", multiply_accumulate, nullptr)
      ->RangeMultiplier(4)
      ->Range(128, 32768);
}

}  // namespace

int main(int argc, char** argv) {
  register_all();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
