// The correlation worker: the body of one worker thread, which correlates its
// share of one parameter period of one stream, and its building blocks.
// Internal to the engine (and its tests); correlator.h is the interface.
#pragma once

#include <fftw3.h>

#include <cstdint>

#include "delay_record.h"
#include "process_plan.h"
#include "raw_file.h"
#include "schedule.h"
#include "spectrum_kernels.h"
#include "working_memory.h"

namespace korva {

// Everything the workers of one period share. Filled on the main thread
// before they start and only read while they run.
struct period_inputs {
  const schedule_tables* schedule;
  const process_plan* plan;
  const raw_window* windows;          // max_stations entries
  const station_delay* delays;        // max_stations entries: the model at the second
  const phase_tables* phases;
  working_memory* memory;
  fftwf_plan plans[max_threads];      // the stream's plan of each worker
};

// The share of one parameter period given to one worker thread. The driver
// fills it before the thread starts; the worker reads it and, as its only
// result besides its own buffers, sets segment_count.
struct correlation_job {
  int32_t epoch;          // the UTC second being correlated
  int32_t process_index;  // 0-based index into the process table
  int32_t stream_index;   // 0-based index into the stream table
  int32_t period_index;   // 0-based parameter period within the second
  int32_t thread_index;   // 0-based index of this worker
  int32_t thread_count;   // workers started for this period
  const period_inputs* inputs;
  int64_t segment_count;  // set by the worker: segments it handled
  int64_t missing_segments[max_stations];  // set by the worker: of those, outside each station's window
};

// Thread entry: correlates the segments of job->period_index whose index is
// congruent to thread_index modulo thread_count and leaves, for every pair of
// the plan, the mean cross-power per segment normalised by 0.625 N^2 in
// baseline_spectrum[thread_index]. A worker that handled no segment leaves
// its cleared accumulators undivided. Counts, per station, the segments that
// lay outside the station's window (and so contributed zeros).
// Argument: a correlation_job*. Returns nullptr.
void* correlation_worker(void* job);

// Start times of one worker's segments, in seconds from the start of the
// second: t = period / pp + thread_index D, then t += thread_count D (repeated
// addition) while t < (period + 1) / pp; D = fft_points / sample_rate.
struct segment_clock {
  long double t;
  long double step;
  long double end;
  bool running() const { return t < end; }
  void advance() { t += step; }
};
segment_clock first_segment(int32_t period_index, int32_t pp_per_second, long double duration,
                            int32_t thread_index, int32_t thread_count);

// A turn fraction times 2^64, truncated toward zero, as the two's-complement
// pattern of the phase step (any finite value; wraps modulo one turn).
uint64_t phase_step_from_turns(long double turns);

// (y - floor(y)) 2^64 as a fixed-point phase; a product that rounds to
// exactly 2^64 is one full turn, that is 0. Non-finite y gives 0.
uint64_t fringe_phase_from_turns(long double y);

// Where one station reads one segment and how its spectrum is rotated.
struct segment_geometry {
  bool valid;             // false when the position is not a finite 64-bit word index
  int64_t first_word;     // file index of the segment's first raw word
  uint64_t phase_step;    // fractional-delay phase advance per bin
  uint64_t fringe_phase;  // fringe phase of the segment start
};

// Constants of a job that locate_segment needs.
struct segment_layout {
  uint32_t words_per_second;  // W
  uint32_t samples_per_word;  // S
  int32_t fft_points;         // N
  double frequency;           // sky frequency, Hz
};

// Delay tracking of one station for the segment starting t seconds into
// UTC second epoch of a process that started at process_epoch. The elapsed
// times from the delay and clock epochs are signed, so a clock epoch after
// the second evaluates its polynomial backwards.
segment_geometry locate_segment(long double t, int32_t epoch, int32_t process_epoch,
                                const station_delay& delay, const station_clock& clock,
                                const segment_layout& layout);

}  // namespace korva
