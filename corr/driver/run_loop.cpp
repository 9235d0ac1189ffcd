#include "run_loop.h"

#include <fftw3.h>
#include <sys/time.h>

#include <cstdlib>
#include <ctime>

#include "correlation.h"
#include "cor_file.h"
#include "info_lines.h"
#include "raw_file.h"
#include "spectrum_kernels.h"
#include "working_memory.h"

namespace korva {

namespace {

// The large tables of the run live in static storage, never on a stack.
schedule_tables run_schedule;
working_memory run_memory;
fft_plan_table run_plans;
cor_file_table run_cor_files;
raw_descriptor_table run_descriptors;
raw_window_table run_windows;
correlation_context run_context;

timeval wall_clock() {
  timeval now{};
  gettimeofday(&now, nullptr);
  return now;
}

int report_failure(std::FILE* stream, const message_buffer& message) {
  std::fprintf(stream, "%s\n", message.text);
  std::fflush(stream);
  return exit_failure;
}

// One real-to-complex plan per thread and stream, from the thread's sample
// buffer into its FFT buffer, made without trial transforms.
int32_t make_plans(const schedule_tables& tables, working_memory& memory, int32_t threads,
                   fft_plan_table& plans, message_buffer& message) {
  const int streams = stream_count(tables);
  for (int t = 0; t < threads; ++t) {
    for (int s = 0; s < streams; ++s) {
      plans.plan[t][s] = fftwf_plan_dft_r2c_1d(tables.streams[s].fft_points, memory.sample_buffer[t],
                                               reinterpret_cast<fftwf_complex*>(memory.fft_buffer[t]),
                                               FFTW_ESTIMATE);
      if (plans.plan[t][s] == nullptr) {
        write_message(message, "korva_corr : Can't make the FFT plan of stream[%.16s] with %d points",
                      tables.streams[s].name, tables.streams[s].fft_points);
        return -1;
      }
    }
  }
  return 1;
}

void destroy_plans(const schedule_tables& tables, int32_t threads, fft_plan_table& plans) {
  const int streams = stream_count(tables);
  for (int t = 0; t < threads; ++t) {
    for (int s = 0; s < streams; ++s) {
      fftwf_destroy_plan(plans.plan[t][s]);
      plans.plan[t][s] = nullptr;
    }
  }
}

// Every second t of the process, epoch <= t < epoch + length in unsigned
// 32-bit arithmetic: map the raw windows of t, correlate them, release them.
// Raw-file failures are printed on out, correlation failures on err.
int run_seconds(const process_info& process, const schedule_tables& tables, int32_t index,
                int32_t threads, std::FILE* out, std::FILE* err) {
  message_buffer message;
  const uint32_t first = static_cast<uint32_t>(process.epoch);
  const uint32_t end = first + static_cast<uint32_t>(process.length);
  for (uint32_t t = first; t < end; ++t) {
    const int32_t second = static_cast<int32_t>(t);
    if (korva_mmap_raw_file(process, tables, run_descriptors, run_windows, second, message) < 0)
      return report_failure(out, message);
    if (correlate_second(run_context, index, second, threads, message) < 0)
      return report_failure(err, message);
    if (korva_umap_raw_file(process, tables, run_descriptors, run_windows, second, message) < 0)
      return report_failure(out, message);
  }
  return exit_success;
}

// One process from its Started to its Finished line.
int run_process(const run_settings& settings, const schedule_tables& tables, working_memory& memory,
                int32_t index, std::FILE* out, std::FILE* err) {
  const process_info& process = tables.processes[index];
  message_buffer message;
  print_process_started(out, index + 1, wall_clock());
  if (make_plans(tables, memory, settings.thread_count, run_plans, message) < 0)
    return report_failure(err, message);
  if (korva_open_raw_file(process, tables, settings.raw_dir, run_descriptors, message) < 0)
    return report_failure(out, message);
  if (korva_open_cor_file(process, tables, settings.cor_dir, run_cor_files, message) < 0)
    return report_failure(out, message);
  if (run_seconds(process, tables, index, settings.thread_count, out, err) != exit_success)
    return exit_failure;
  // Closing flushes the last records: a failure there is a write error.
  if (korva_close_cor_file(process, tables, settings.cor_dir, run_cor_files, message) < 0)
    return report_failure(err, message);
  if (korva_close_raw_file(process, tables, settings.raw_dir, run_descriptors, message) < 0)
    return report_failure(out, message);
  destroy_plans(tables, settings.thread_count, run_plans);
  print_process_finished(out, index + 1, wall_clock());
  return exit_success;
}

}  // namespace

int run_processes(const run_settings& settings, const schedule_tables& tables, working_memory& memory,
                  std::FILE* out, std::FILE* err) {
  run_context.schedule = &tables;
  run_context.windows = run_windows;
  run_context.files = &run_cor_files;
  run_context.memory = &memory;
  run_context.plans = &run_plans;
  for (int32_t p = 0; p < max_processes && tables.processes[p].epoch != 0; ++p) {
    if (run_process(settings, tables, memory, p, out, err) != exit_success) return exit_failure;
  }
  print_correlation_finished(out);
  return exit_success;
}

int korva_corr_main(int argc, char** argv) {
  setenv("TZ", "GMT", 1);
  tzset();
  build_phase_tables();
  if (argc <= 1) {
    print_usage(stdout);
    return exit_success;
  }
  run_settings settings;
  switch (read_command_line(argc, argv, settings, stdout, stderr)) {
    case command_outcome::finished: return exit_success;
    case command_outcome::failed: return exit_failure;
    case command_outcome::run: break;
  }
  if (read_environment(settings, stderr) != command_outcome::run) return exit_failure;
  message_buffer message;
  if (korva_memory_allocate(run_memory, settings.thread_count, message) < 0)
    return report_failure(stderr, message);
  if (korva_read_schedule(run_schedule, settings.schedule_path, message) < 0)
    return report_failure(stderr, message);
  print_start_lines(stdout, settings, run_schedule.terminal);
  return run_processes(settings, run_schedule, run_memory, stdout, stderr);
}

}  // namespace korva
