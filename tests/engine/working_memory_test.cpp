// korva_memory_allocate: which buffers exist, their size and alignment.
#include "working_memory.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

namespace korva {
namespace {

// All non-null buffers of the table, freed at the end of the test.
std::vector<float*> buffers_of(const working_memory& memory) {
  std::vector<float*> all;
  for (int t = 0; t < max_threads; ++t) {
    if (memory.sample_buffer[t]) all.push_back(memory.sample_buffer[t]);
    if (memory.fft_buffer[t]) all.push_back(memory.fft_buffer[t]);
    for (int i = 0; i < max_stations; ++i) {
      if (memory.station_spectrum[t][i]) all.push_back(memory.station_spectrum[t][i]);
      for (int j = 0; j < max_stations; ++j) {
        if (memory.baseline_spectrum[t][i][j]) all.push_back(memory.baseline_spectrum[t][i][j]);
      }
    }
  }
  return all;
}

// The table lives on the heap as in a run; it frees its buffers itself.
struct owned_memory {
  std::unique_ptr<working_memory> memory = std::make_unique<working_memory>();
};

TEST(WorkingMemory, BufferSizeHoldsTheLargestFftAndSixteenBytes) {
  EXPECT_EQ(buffer_bytes, 262160);
  EXPECT_EQ(buffer_bytes, max_fft_points * 4 + 16);
}

TEST(WorkingMemory, ThreeThreadsGetTheirBuffersAndNoOthers) {
  owned_memory owned;
  working_memory& memory = *owned.memory;
  message_buffer message;
  ASSERT_EQ(korva_memory_allocate(memory, 3, message), 1);
  EXPECT_STREQ(message.text, "korva_memory_allocate : Memory Allocation TRUE");
  for (int t = 0; t < max_threads; ++t) {
    const bool used = t < 3;
    EXPECT_EQ(memory.sample_buffer[t] != nullptr, used);
    EXPECT_EQ(memory.fft_buffer[t] != nullptr, used);
    for (int i = 0; i < max_stations; ++i) {
      EXPECT_EQ(memory.station_spectrum[t][i] != nullptr, used);
      for (int j = 0; j < max_stations; ++j) {
        EXPECT_EQ(memory.baseline_spectrum[t][i][j] != nullptr, used && i <= j) << t << i << j;
      }
    }
  }
  EXPECT_EQ(buffers_of(memory).size(), 3u * (2 + 10 + 55));
}

TEST(WorkingMemory, BuffersAreAlignedDistinctAndWholly) {
  owned_memory owned;
  message_buffer message;
  ASSERT_EQ(korva_memory_allocate(*owned.memory, 2, message), 1);
  std::vector<float*> all = buffers_of(*owned.memory);
  for (float* b : all) {
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b) % 16, 0u);
    std::memset(b, 0xA5, buffer_bytes);  // the whole length is usable (checked by the sanitizers)
  }
  std::sort(all.begin(), all.end());
  for (std::size_t k = 1; k < all.size(); ++k) {
    EXPECT_GE(reinterpret_cast<char*>(all[k]) - reinterpret_cast<char*>(all[k - 1]), buffer_bytes);
  }
}

TEST(WorkingMemory, NoThreadsAllocatesNothing) {
  owned_memory owned;
  message_buffer message;
  EXPECT_EQ(korva_memory_allocate(*owned.memory, 0, message), 1);
  EXPECT_STREQ(message.text, "korva_memory_allocate : Memory Allocation TRUE");
  EXPECT_EQ(korva_memory_allocate(*owned.memory, -4, message), 1);
  EXPECT_TRUE(buffers_of(*owned.memory).empty());
}

TEST(WorkingMemory, MoreThanEightThreadsFillEightRows) {
  owned_memory owned;
  message_buffer message;
  ASSERT_EQ(korva_memory_allocate(*owned.memory, 100, message), 1);
  EXPECT_EQ(buffers_of(*owned.memory).size(), 8u * 67);
}

#if !defined(__SANITIZE_ADDRESS__)
// Address space in use by this process, bytes.
std::size_t address_space_in_use() {
  std::size_t pages = 0;
  std::ifstream("/proc/self/statm") >> pages;
  return pages * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}
#endif

TEST(WorkingMemory, ExhaustedMemoryFailsWithItsMessage) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's allocator does not return null";
#else
  // In a child whose address space leaves room for about a third of the
  // 8 x 67 buffers.
  const pid_t pid = fork();
  if (pid == 0) {
    const rlimit limit{address_space_in_use() + (48u << 20), RLIM_INFINITY};
    if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(2);
    static working_memory memory{};
    message_buffer message;
    const bool failed = korva_memory_allocate(memory, 8, message) == -1;
    const bool text_ok = std::strcmp(message.text, "korva_corr : Memory Allocation FAIL") == 0;
    const bool some_kept = memory.sample_buffer[0] != nullptr;  // earlier buffers stay
    _exit(failed && text_ok && some_kept ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
#endif
}

}  // namespace
}  // namespace korva
