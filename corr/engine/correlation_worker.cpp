// The correlation worker: one parameter period's share of FFT segments of one
// stream, from raw words to normalised cross-power spectra of every pair.
#include <cmath>
#include <cstring>

#include "correlation_worker.h"
#include "kernel_paths.h"
#include "sample_decoders.h"
#include "recording_mode.h"
#include "spectrum_kernels.h"
#include "taylor_series.h"

namespace korva {

static_assert(sizeof(long double) > sizeof(double), "extended precision (x87 80-bit) is required");

namespace {

constexpr long double two_pow_63 = 9223372036854775808.0L;
constexpr long double two_pow_64 = 18446744073709551616.0L;

// Positions beyond this magnitude cannot be a word of any raw file; they only
// arise from absurd delay or clock coefficients.
constexpr long double max_word_position = 4611686018427387904.0L;  // 2^62

}  // namespace

segment_clock first_segment(int32_t period_index, int32_t pp_per_second, long double duration,
                            int32_t thread_index, int32_t thread_count) {
  segment_clock clock;
  clock.t = static_cast<long double>(period_index) / pp_per_second + thread_index * duration;
  clock.step = thread_count * duration;
  clock.end = static_cast<long double>(period_index + 1) / pp_per_second;
  return clock;
}

namespace {

// A conversion that truncates makes the x87 unit switch its rounding mode
// twice, which stalls it; these run once per station and segment, so they
// stay in the default round-to-nearest mode and give the same results.
long double floor_in_nearest_mode(long double x) {
  const long double r = std::rint(x);
  return r > x ? r - 1 : r;
}

long double trunc_in_nearest_mode(long double x) {
  return x < 0 ? -floor_in_nearest_mode(-x) : floor_in_nearest_mode(x);
}

// An integral value in the signed 64-bit range, converted exactly.
int64_t integral_to_int64(long double integral) { return std::llrint(integral); }

// A non-negative integral value below 2^64.
uint64_t integral_to_uint64(long double integral) {
  if (integral < two_pow_63) return static_cast<uint64_t>(integral_to_int64(integral));
  return static_cast<uint64_t>(integral_to_int64(integral - two_pow_63)) + (uint64_t{1} << 63);
}

}  // namespace

uint64_t phase_step_from_turns(long double turns) {
  if (!std::isfinite(turns)) return 0;
  long double fixed = trunc_in_nearest_mode(turns * two_pow_64);
  // Whole turns are dropped (exactly), so the conversion below is in range.
  if (!(std::fabs(fixed) < two_pow_63)) fixed = std::fmod(fixed, two_pow_64);
  if (fixed >= 0) return integral_to_uint64(fixed);
  return -integral_to_uint64(-fixed);
}

uint64_t fringe_phase_from_turns(long double y) {
  if (!std::isfinite(y)) return 0;
  const long double fixed = floor_in_nearest_mode((y - floor_in_nearest_mode(y)) * two_pow_64);
  if (fixed >= two_pow_64) return 0;  // one whole turn
  return integral_to_uint64(fixed);
}

segment_geometry locate_segment(long double t, int32_t epoch, int32_t process_epoch,
                                const station_delay& delay, const station_clock& clock,
                                const segment_layout& layout) {
  segment_geometry geometry{};
  const double t_d = static_cast<double>(t);
  const long double dt_geo = static_cast<long double>(int64_t{epoch} - delay.epoch) + t_d;
  const long double dt_clk = static_cast<long double>(int64_t{epoch} - clock.epoch) + t_d;
  const long double tau = taylor_series(dt_geo, delay.delay) + taylor_series(dt_clk, clock.clock);

  const long double x = (t + tau) * static_cast<long double>(layout.words_per_second);
  if (!(std::fabs(x) < max_word_position)) return geometry;  // also catches NaN
  const long double rounded = std::rint(x);                  // ties to even
  const int64_t r = integral_to_int64(rounded);
  const uint64_t second_offset = static_cast<uint64_t>(layout.words_per_second) *
                                 static_cast<uint32_t>(epoch - process_epoch);
  geometry.first_word = static_cast<int64_t>(second_offset + static_cast<uint64_t>(r));

  const long double residual = x - rounded;  // words, within [-0.5, 0.5]
  geometry.phase_step =
      phase_step_from_turns(residual * layout.samples_per_word / layout.fft_points);
  geometry.fringe_phase = fringe_phase_from_turns(tau * static_cast<long double>(layout.frequency));
  geometry.valid = true;
  return geometry;
}

namespace {

// Whether the segment's words first .. first + count - 1 lie inside the window.
bool inside_window(const raw_window& window, int64_t first, int64_t count) {
  return first >= window.first_word && first + count <= window.first_word + window.word_count;
}

// What a worker fixes once for its job.
struct worker_setup {
  const period_inputs& in;
  const stream_info& stream;
  const process_info& process;
  int k;                       // the worker's thread index: its row of buffers
  int32_t n;                   // FFT points
  int32_t bins;                // n / 2
  segment_layout layout;
  int64_t words_per_segment;
  int64_t recorded_words;      // words of a complete raw file that its windows can reach
  long double duration;        // of one segment, seconds
  sample_decoder decode;
  int32_t channel;             // 0-based
  fftwf_plan plan;
  long double segment_weight;  // 0.625 N^2
  const spectrum_kernel_set& kernels;
};

// Words of a complete raw file of the process (W x length) that its windows
// map: a window ends on a whole page, so a last partial page is never read.
int64_t reachable_words(uint32_t words_per_second, int32_t length) {
  const int64_t bytes = int64_t{words_per_second} * 4 * length;
  return bytes / raw_page_bytes * raw_page_bytes / 4;
}

worker_setup set_up_worker(const correlation_job& job) {
  const period_inputs& in = *job.inputs;
  const terminal_info& terminal = in.schedule->terminal;
  const stream_info& stream = in.schedule->streams[job.stream_index];
  const int32_t n = stream.fft_points;
  const spectrum_kernel_set& kernels = active_spectrum_kernels();  // chosen once per program
  segment_layout layout;
  layout.words_per_second = words_per_second(terminal_mode(terminal));
  layout.samples_per_word = static_cast<uint32_t>(samples_per_word(terminal.bits, terminal.channels));
  layout.fft_points = n;
  layout.frequency = stream.frequency;
  return worker_setup{in,
                      stream,
                      in.schedule->processes[job.process_index],
                      job.thread_index,
                      n,
                      n / 2,
                      layout,
                      n / static_cast<int32_t>(layout.samples_per_word),  // n is a whole number of words
                      reachable_words(layout.words_per_second, in.schedule->processes[job.process_index].length),
                      static_cast<long double>(n) / terminal.sample_rate,
                      select_sample_decoder(terminal.bits, terminal.channels, kernels.path),
                      stream.channel - 1,
                      in.plans[job.thread_index],
                      0.625L * n * n,
                      kernels};
}

// Clears the accumulators of the plan's pairs; no other pair is ever written.
void clear_accumulators(const worker_setup& w) {
  const process_plan& plan = *w.in.plan;
  for (int p = 0; p < plan.pair_count; ++p) {
    const station_pair pair = plan.pairs[p];
    std::memset(w.in.memory->baseline_spectrum[w.k][pair.first][pair.second], 0,
                static_cast<std::size_t>(w.n) * sizeof(float));
  }
}

// Whether a segment outside its window is one that a complete raw file would
// hold but this one does not. Segments that the delay moves past either end
// of the recording are expected losses, not missing data.
bool lacks_recorded_data(const worker_setup& w, const raw_window& window, const segment_geometry& where) {
  if (!where.valid || where.first_word < 0) return false;
  const int64_t end = where.first_word + w.words_per_segment;
  return end <= w.recorded_words && end > window.file_words;
}

// The rotated spectrum of every taking-part station for the segment that
// starts t seconds into the second; zero where the segment is outside the
// station's window, which is counted in missing when a complete raw file
// would have held it.
void transform_segment(const worker_setup& w, int32_t epoch, long double t, uint64_t dither,
                       int64_t (&missing)[max_stations]) {
  const period_inputs& in = w.in;
  working_memory& memory = *in.memory;
  for (int s = 0; s < max_stations; ++s) {
    if (!in.plan->takes_part[s]) continue;
    float* spectrum = memory.station_spectrum[w.k][s];
    const raw_window& window = in.windows[s];
    const segment_geometry where =
        locate_segment(t, epoch, w.process.epoch, in.delays[s], in.schedule->clocks[s], w.layout);
    if (!where.valid || !inside_window(window, where.first_word, w.words_per_segment)) {
      std::memset(spectrum, 0, static_cast<std::size_t>(w.n) * sizeof(float));
      if (lacks_recorded_data(w, window, where)) ++missing[s];
      continue;
    }
    w.decode(window.base + (where.first_word - window.first_word), memory.sample_buffer[w.k], w.n, w.channel);
    fftwf_execute(w.plan);
    w.kernels.rotate(*in.phases, memory.fft_buffer[w.k], spectrum, where.fringe_phase + dither,
                     where.phase_step + dither, w.bins);
  }
}

// Bins per step of the pair walk: 32 KiB of each station spectrum, so the
// blocks of ten stations (320 KiB) stay in the second-level cache while every
// pair that uses them is accumulated. Much shorter blocks cost more than they
// save: each pair's accumulator becomes a short stream the prefetcher has to
// restart (bench/engine pair_walk_10_stations). A multiple of eight bins, so
// every block starts 64-byte aligned relative to its buffer.
constexpr int32_t bins_per_block = 4096;

// Adds the cross-power of the segment's spectra to every pair's accumulator,
// block of bins by block of bins. Each accumulator bin still receives one
// addition per segment, so the blocking changes no result.
void accumulate_pairs(const worker_setup& w) {
  working_memory& memory = *w.in.memory;
  const process_plan& plan = *w.in.plan;
  const multiply_accumulate_kernel accumulate = w.kernels.multiply_accumulate;
  for (int32_t first = 0; first < w.bins; first += bins_per_block) {
    const int32_t count = w.bins - first < bins_per_block ? w.bins - first : bins_per_block;
    const int32_t offset = 2 * first;  // floats
    for (int p = 0; p < plan.pair_count; ++p) {
      const station_pair pair = plan.pairs[p];
      accumulate(memory.station_spectrum[w.k][pair.first] + offset, memory.station_spectrum[w.k][pair.second] + offset,
                 memory.baseline_spectrum[w.k][pair.first][pair.second] + offset, count);
    }
  }
}

// Divides every pair's accumulator by the weight of the segments it holds,
// in extended precision with the exact integer weight.
void normalise_pairs(const worker_setup& w, int64_t weight) {
  if (weight == 0 || w.bins <= 0) return;
  const long double divisor = static_cast<long double>(weight);
  const process_plan& plan = *w.in.plan;
  for (int p = 0; p < plan.pair_count; ++p) {
    const station_pair pair = plan.pairs[p];
    float* acc = w.in.memory->baseline_spectrum[w.k][pair.first][pair.second];
    for (int32_t m = 0; m < w.n; ++m) acc[m] = static_cast<float>(acc[m] / divisor);
  }
}

}  // namespace

void* correlation_worker(void* argument) {
  correlation_job& job = *static_cast<correlation_job*>(argument);
  const worker_setup w = set_up_worker(job);
  clear_accumulators(w);
  dither_generator dither(0);
  // Every pair receives the same weight: one per segment, truncated after
  // each addition as the accumulated sum is kept in integers.
  int64_t weight = 0;
  int64_t segments = 0;
  for (int64_t& count : job.missing_segments) count = 0;
  for (segment_clock clock = first_segment(job.period_index, w.stream.pp_per_second, w.duration,
                                           job.thread_index, job.thread_count);
       clock.running(); clock.advance()) {
    const uint64_t segment_dither = dither.next();  // one value for all stations
    ++segments;
    transform_segment(w, job.epoch, clock.t, segment_dither, job.missing_segments);
    accumulate_pairs(w);
    weight = static_cast<int64_t>(weight + w.segment_weight);
  }
  normalise_pairs(w, weight);
  job.segment_count = segments;
  return nullptr;
}

}  // namespace korva
