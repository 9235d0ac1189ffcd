#include "working_memory.h"

#include <cstdlib>
#include <utility>

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

// Calls visit(slot of a, slot of b) for every buffer slot of two tables.
template <typename Visit>
void for_each_slot(working_memory& a, working_memory& b, Visit visit) {
  for (int t = 0; t < max_threads; ++t) {
    visit(a.sample_buffer[t], b.sample_buffer[t]);
    visit(a.fft_buffer[t], b.fft_buffer[t]);
    for (int i = 0; i < max_stations; ++i) {
      visit(a.station_spectrum[t][i], b.station_spectrum[t][i]);
      for (int j = 0; j < max_stations; ++j) visit(a.baseline_spectrum[t][i][j], b.baseline_spectrum[t][i][j]);
    }
  }
}

void free_buffer(float*& slot, float*&) {
  std::free(slot);
  slot = nullptr;
}

}  // namespace

working_memory::working_memory(working_memory&& other) noexcept { *this = std::move(other); }

working_memory& working_memory::operator=(working_memory&& other) noexcept {
  if (this == &other) return *this;
  for_each_slot(*this, *this, free_buffer);
  for_each_slot(*this, other, [](float*& mine, float*& theirs) { std::swap(mine, theirs); });
  return *this;
}

working_memory::~working_memory() { for_each_slot(*this, *this, free_buffer); }

int32_t working_memory::threads() const {
  int32_t t = 0;
  while (t < max_threads && sample_buffer[t] != nullptr) ++t;
  return t;
}

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
