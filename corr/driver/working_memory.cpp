#include "working_memory.h"

#include <cstdlib>

namespace korva {

namespace {

constexpr std::size_t buffer_alignment = 16;

// One working buffer, or null when memory is exhausted.
float* allocate_buffer() {
  void* buffer = nullptr;
  if (posix_memalign(&buffer, buffer_alignment, buffer_bytes) != 0) return nullptr;
  return static_cast<float*>(buffer);
}

bool allocate_thread(working_memory& memory, int t) {
  if ((memory.sample_buffer[t] = allocate_buffer()) == nullptr) return false;
  if ((memory.fft_buffer[t] = allocate_buffer()) == nullptr) return false;
  for (int i = 0; i < max_stations; ++i) {
    if ((memory.station_spectrum[t][i] = allocate_buffer()) == nullptr) return false;
  }
  for (int i = 0; i < max_stations; ++i) {
    for (int j = i; j < max_stations; ++j) {
      if ((memory.baseline_spectrum[t][i][j] = allocate_buffer()) == nullptr) return false;
    }
  }
  return true;
}

}  // namespace

int32_t korva_memory_allocate(working_memory& memory, int32_t thread_count, message_buffer& message) {
  const int32_t threads = thread_count < max_threads ? thread_count : max_threads;
  for (int t = 0; t < threads; ++t) {
    if (!allocate_thread(memory, t)) {
      write_message(message, "korva_corr : Memory Allocation FAIL");
      return -1;
    }
  }
  write_message(message, "korva_memory_allocate : Memory Allocation TRUE");
  return 1;
}

}  // namespace korva
