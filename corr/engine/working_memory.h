// The working buffers of the worker threads: per thread a sample buffer, an
// FFT buffer, ten station spectra and the 55 accumulators of station pairs
// i <= j, each buffer_bytes long on a 16-byte boundary. The object owns them
// and frees them when destroyed; it is moved, never copied.
#pragma once

#include <cstdint>

#include "message_buffer.h"
#include "schedule.h"

namespace korva {

inline constexpr int max_threads = 8;
inline constexpr int buffer_floats = 65536;
inline constexpr int buffer_bytes = buffer_floats * 4 + 16;  // 262,160

struct working_memory {
  working_memory() = default;
  working_memory(working_memory&& other) noexcept;
  working_memory& operator=(working_memory&& other) noexcept;
  working_memory(const working_memory&) = delete;
  working_memory& operator=(const working_memory&) = delete;
  ~working_memory();

  // Worker threads with buffers: the rows 0 .. threads() - 1 are complete.
  int32_t threads() const;

  float* sample_buffer[max_threads] = {};
  float* fft_buffer[max_threads] = {};
  float* station_spectrum[max_threads][max_stations] = {};
  float* baseline_spectrum[max_threads][max_stations][max_stations] = {};
};

// Allocates, for each of thread_count threads (at most max_threads), its
// sample buffer, FFT buffer, ten station spectra and the 55 baseline spectra
// of pairs i <= j, in that order. Every buffer is an allocation of its own:
// FFTW chooses its codelets by the alignment of the buffers it plans for, so
// the way they are allocated is part of what keeps output files identical.
// A count of 0 or less allocates nothing. Returns 1, or -1 at the first
// allocation that fails (earlier buffers stay, owned by memory).
int32_t korva_memory_allocate(working_memory& memory, int32_t thread_count, message_buffer& message);

}  // namespace korva
