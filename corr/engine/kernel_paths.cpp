// Choice of the spectrum kernels' vector width from the CPU's features and
// KORVA_KERNELS.
#include "kernel_paths.h"

#include <cpuid.h>

#include <cstdlib>
#include <cstring>

namespace korva {

const char* kernel_path_name(kernel_path path) {
  switch (path) {
    case kernel_path::avx2: return "avx2";
    case kernel_path::avx512: return "avx512";
    case kernel_path::sse: break;
  }
  return "sse";
}

bool kernel_path_supported(kernel_path path) {
  // The CPU-feature tests of the compiler's runtime also check that the
  // operating system saves the wide registers.
  __builtin_cpu_init();
  switch (path) {
    case kernel_path::sse: return true;  // part of every x86-64
    case kernel_path::avx2: return __builtin_cpu_supports("avx2");
    case kernel_path::avx512: return __builtin_cpu_supports("avx512f");
  }
  return false;
}

namespace {

// AMD processors up to family 19h execute a 512-bit operation as two 256-bit
// halves, and there the 512-bit kernels measured slower than the 256-bit ones
// (more lane moves for the same work).
bool splits_512_bit_operations() {
  if (!__builtin_cpu_is("amd")) return false;
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return false;
  const unsigned family = ((eax >> 8) & 0xF) + ((eax >> 20) & 0xFF);
  return family <= 0x19;
}

}  // namespace

kernel_path fastest_kernel_path() {
  if (kernel_path_supported(kernel_path::avx512) && !splits_512_bit_operations()) return kernel_path::avx512;
  if (kernel_path_supported(kernel_path::avx2)) return kernel_path::avx2;
  return kernel_path::sse;
}

kernel_path kernel_path_for_request(const char* request) {
  kernel_path wanted = fastest_kernel_path();
  for (kernel_path path : all_kernel_paths) {
    if (request != nullptr && std::strcmp(request, kernel_path_name(path)) == 0) wanted = path;
  }
  while (!kernel_path_supported(wanted)) wanted = static_cast<kernel_path>(static_cast<int32_t>(wanted) - 1);
  return wanted;
}

spectrum_kernel_set spectrum_kernels_of(kernel_path path) {
  switch (path) {
    case kernel_path::avx2: return {path, rotate_spectrum_avx2, cross_multiply_accumulate_avx2};
    case kernel_path::avx512: return {path, rotate_spectrum_avx512, cross_multiply_accumulate_avx512};
    case kernel_path::sse: break;
  }
  return {kernel_path::sse, rotate_spectrum_sse, cross_multiply_accumulate_sse};
}

const spectrum_kernel_set& active_spectrum_kernels() {
  static const spectrum_kernel_set chosen = spectrum_kernels_of(kernel_path_for_request(std::getenv("KORVA_KERNELS")));
  return chosen;
}

}  // namespace korva
