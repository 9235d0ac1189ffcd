// Correlates every process of a schedule through the library steps the run
// loop of korva_corr calls (raw files, output files, correlate_second per
// second, plans per thread and stream), so that the bench can time the
// engine on its own. Prints nothing but failures.
//
// Usage: correlate_run <schedule> <raw dir> <cor dir> <threads>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "correlation.h"
#include "spectrum_kernels.h"

namespace {

using namespace korva;

float* aligned_buffer() {
  void* buffer = std::aligned_alloc(16, buffer_bytes);
  if (buffer == nullptr) {
    std::fprintf(stderr, "correlate_run: out of memory\n");
    std::exit(1);
  }
  return static_cast<float*>(buffer);
}

bool ok(int32_t status, const message_buffer& message) {
  if (status != 1) std::fprintf(stderr, "%s\n", message.text);
  return status == 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: correlate_run <schedule> <raw dir> <cor dir> <threads>\n");
    return 1;
  }
  const char* raw_dir = argv[2];
  const char* cor_dir = argv[3];
  const int threads = std::atoi(argv[4]);
  if (threads < 1 || threads > max_threads) {
    std::fprintf(stderr, "correlate_run: threads must be 1..8\n");
    return 1;
  }
  build_phase_tables();
  auto tables = std::make_unique<schedule_tables>();
  auto files = std::make_unique<cor_file_table>();
  auto memory = std::make_unique<working_memory>();
  auto plans = std::make_unique<fft_plan_table>();
  raw_descriptor_table descriptors;
  raw_window_table windows;
  message_buffer message;
  if (!ok(korva_read_schedule(*tables, argv[1], message), message)) return 1;
  for (int t = 0; t < threads; ++t) {
    memory->sample_buffer[t] = aligned_buffer();
    memory->fft_buffer[t] = aligned_buffer();
    for (int i = 0; i < max_stations; ++i) {
      memory->station_spectrum[t][i] = aligned_buffer();
      for (int j = i; j < max_stations; ++j) memory->baseline_spectrum[t][i][j] = aligned_buffer();
    }
  }
  auto context = std::make_unique<correlation_context>(
      correlation_context{tables.get(), windows, files.get(), memory.get(), plans.get(), {}});
  const int streams = stream_count(*tables);
  for (int p = 0; p < max_processes && tables->processes[p].epoch != 0; ++p) {
    const process_info& process = tables->processes[p];
    for (int t = 0; t < threads; ++t)
      for (int s = 0; s < streams; ++s)
        plans->plan[t][s] = fftwf_plan_dft_r2c_1d(tables->streams[s].fft_points, memory->sample_buffer[t],
                                                  reinterpret_cast<fftwf_complex*>(memory->fft_buffer[t]),
                                                  FFTW_ESTIMATE);
    if (!ok(korva_open_raw_file(process, *tables, raw_dir, descriptors, message), message)) return 1;
    if (!ok(korva_open_cor_file(process, *tables, cor_dir, *files, message), message)) return 1;
    const uint32_t end = static_cast<uint32_t>(process.epoch) + static_cast<uint32_t>(process.length);
    for (uint32_t t = static_cast<uint32_t>(process.epoch); t < end; ++t) {
      const auto second = static_cast<int32_t>(t);
      if (!ok(korva_mmap_raw_file(process, *tables, descriptors, windows, second, message), message)) return 1;
      if (!ok(correlate_second(*context, p, second, threads, message), message)) return 1;
      if (!ok(korva_umap_raw_file(process, *tables, descriptors, windows, second, message), message)) return 1;
    }
    if (!ok(korva_close_cor_file(process, *tables, cor_dir, *files, message), message)) return 1;
    korva_close_raw_file(process, *tables, raw_dir, descriptors, message);
    for (int t = 0; t < threads; ++t)
      for (int s = 0; s < streams; ++s) fftwf_destroy_plan(plans->plan[t][s]);
  }
  return 0;
}
