// Times `count` executions of one single-precision real-to-complex FFT plan
// of `points` samples, made as the correlator makes its plans (estimating
// planner, 16-byte aligned buffers of the worker's size), and prints the CPU
// seconds they took: the floor below which a correlation run that executes
// the same number of transforms cannot go.
//
// Usage: correlate_fft_floor <points> <count>
#include <fftw3.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

namespace {

constexpr std::size_t buffer_bytes = 65536 * 4 + 16;  // one worker buffer

double cpu_seconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return now.tv_sec + now.tv_nsec * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: correlate_fft_floor <points> <count>\n");
    return 1;
  }
  const long points = std::strtol(argv[1], nullptr, 10);
  const long long count = std::strtoll(argv[2], nullptr, 10);
  if (points < 4 || points > 65536 || count < 0) {
    std::fprintf(stderr, "correlate_fft_floor: points must be 4..65536 and count >= 0\n");
    return 1;
  }
  auto* in = static_cast<float*>(std::aligned_alloc(16, buffer_bytes));
  auto* out = static_cast<float*>(std::aligned_alloc(16, buffer_bytes));
  if (in == nullptr || out == nullptr) {
    std::fprintf(stderr, "correlate_fft_floor: out of memory\n");
    return 1;
  }
  std::memset(out, 0, buffer_bytes);
  fftwf_plan plan = fftwf_plan_dft_r2c_1d(static_cast<int>(points), in, reinterpret_cast<fftwf_complex*>(out),
                                          FFTW_ESTIMATE);
  // 2-bit levels, as the decoders leave them.
  std::mt19937 generator(1);
  const float levels[4] = {-1.5f, -0.5f, 0.5f, 1.5f};
  for (long n = 0; n < points; ++n) in[n] = levels[generator() & 3];

  const double start = cpu_seconds();
  for (long long k = 0; k < count; ++k) fftwf_execute(plan);
  const double elapsed = cpu_seconds() - start;
  volatile float sink = out[2];  // keep the transforms observable
  (void)sink;
  std::printf("%.3f\n", elapsed);
  fftwf_destroy_plan(plan);
  std::free(in);
  std::free(out);
  return 0;
}
