// The vector widths the spectrum kernels come in, and the choice among them.
//
// Every path computes every output element with the same single-precision
// multiplications and additions in the same order (no fused multiply-add),
// so all paths give bit-identical results; they differ only in speed. The
// 128-bit SSE path is the portable one; the 256-bit AVX2 and 512-bit AVX-512
// paths run where the CPU has them. The choice is made once per program from
// the CPU's features; the environment variable KORVA_KERNELS (sse, avx2 or
// avx512) forces another path the CPU runs, for tests and benchmarks.
#pragma once

#include <cstdint>

#include "spectrum_kernels.h"

namespace korva {

enum class kernel_path : int32_t { sse = 0, avx2 = 1, avx512 = 2 };
inline constexpr kernel_path all_kernel_paths[] = {kernel_path::sse, kernel_path::avx2, kernel_path::avx512};

using rotate_kernel = void (*)(const phase_tables& tables, const float* in, float* out, uint64_t phase,
                               uint64_t step, int32_t n);
using multiply_accumulate_kernel = void (*)(const float* a, const float* b, float* acc, int32_t n);

// The two kernels of one path, with the contracts of spectrum_kernels.h.
struct spectrum_kernel_set {
  kernel_path path;
  rotate_kernel rotate;
  multiply_accumulate_kernel multiply_accumulate;
};

// "sse", "avx2" or "avx512".
const char* kernel_path_name(kernel_path path);

// Whether this CPU (and operating system) can run the path.
bool kernel_path_supported(kernel_path path);

// The path runs use by default: the widest this CPU runs, except AVX-512 on
// processors that split 512-bit operations into two 256-bit halves (AMD up
// to family 19h), where the AVX2 kernels are the faster ones.
kernel_path fastest_kernel_path();

// The path for a KORVA_KERNELS value: the named path when the CPU runs it,
// else the widest supported path narrower than it; null, empty or unknown
// names give the fastest path.
kernel_path kernel_path_for_request(const char* request);

// The kernels of a path. Calling a path the CPU lacks is undefined; check
// kernel_path_supported first.
spectrum_kernel_set spectrum_kernels_of(kernel_path path);

// The kernels every correlation uses: chosen on the first call from
// KORVA_KERNELS and the CPU, the same for the rest of the program.
const spectrum_kernel_set& active_spectrum_kernels();

// The paths one by one (defined in their own files, each compiled for its
// instruction set).
void rotate_spectrum_sse(const phase_tables& tables, const float* in, float* out, uint64_t phase, uint64_t step,
                         int32_t n);
void cross_multiply_accumulate_sse(const float* a, const float* b, float* acc, int32_t n);
void rotate_spectrum_avx2(const phase_tables& tables, const float* in, float* out, uint64_t phase, uint64_t step,
                          int32_t n);
void cross_multiply_accumulate_avx2(const float* a, const float* b, float* acc, int32_t n);
void rotate_spectrum_avx512(const phase_tables& tables, const float* in, float* out, uint64_t phase,
                            uint64_t step, int32_t n);
void cross_multiply_accumulate_avx512(const float* a, const float* b, float* acc, int32_t n);

}  // namespace korva
