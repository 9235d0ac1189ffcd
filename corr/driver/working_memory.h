// The working buffers of the worker threads, allocated once for the run.
#pragma once

#include <cstdint>

#include "correlation.h"
#include "message_buffer.h"

namespace korva {

// Allocates, for each of thread_count threads (at most max_threads), its
// sample buffer, FFT buffer, ten station spectra and the 55 baseline spectra
// of pairs i <= j, in that order, each buffer_bytes long on a 16-byte
// boundary. Buffers are never freed. A count of 0 or less allocates nothing.
// Returns 1, or -1 at the first allocation that fails (earlier buffers stay).
int32_t korva_memory_allocate(working_memory& memory, int32_t thread_count, message_buffer& message);

}  // namespace korva
