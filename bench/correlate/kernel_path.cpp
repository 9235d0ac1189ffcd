// Prints the name of the spectrum-kernel path korva_corr would use here
// (honouring KORVA_KERNELS), for the correlation bench's labels.
#include <cstdio>

#include "kernel_paths.h"

int main() {
  std::printf("%s\n", korva::kernel_path_name(korva::active_spectrum_kernels().path));
  return 0;
}
