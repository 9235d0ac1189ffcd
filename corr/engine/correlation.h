// The correlation engine: the process driver correlate_second and the
// correlation worker, with the working memory and FFT plans they use.
#pragma once

#include <fftw3.h>

#include <cstdint>

#include "cor_file.h"
#include "message_buffer.h"
#include "raw_file.h"
#include "schedule.h"
#include "station_delay.h"

namespace korva {

inline constexpr int max_threads = 8;
inline constexpr int buffer_floats = 65536;
inline constexpr int buffer_bytes = buffer_floats * 4 + 16;  // 262,160

// Per-thread buffers, each buffer_bytes long on a 16-byte boundary. Only the
// baseline entries with first <= second are allocated.
struct working_memory {
  float* sample_buffer[max_threads];
  float* fft_buffer[max_threads];
  float* station_spectrum[max_threads][max_stations];
  float* baseline_spectrum[max_threads][max_stations][max_stations];
};

// One real-to-complex plan per worker thread and stream, made per process on
// the main thread.
struct fft_plan_table {
  fftwf_plan plan[max_threads][max_streams];
};

// Everything the driver and its workers share. Written only on the main thread
// while no worker runs.
struct correlation_context {
  const schedule_tables* schedule;
  const raw_window* windows;     // max_stations entries
  const cor_file_table* files;
  working_memory* memory;
  const fft_plan_table* plans;
  station_delay station_delay_table[max_stations];
};

// Correlates UTC second epoch of process process_index with thread_count
// workers (1..8) and appends one record per station pair, stream and
// parameter period to the open output files. Returns 1, or -1 with the
// message in the buffer.
int32_t correlate_second(correlation_context& context, int32_t process_index, int32_t epoch,
                         int32_t thread_count, message_buffer& message);

}  // namespace korva
