#include "run_loop.h"

#include <sys/resource.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <memory>

#include "cor_file.h"
#include "cor_file_sink.h"
#include "correlator.h"
#include "epoch_text.h"
#include "info_lines.h"
#include "raw_file.h"
#include "run_signals.h"

namespace korva {

namespace {

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

// One run over the processes of a schedule: the correlator and the files of
// the process being correlated.
class correlation_run {
 public:
  correlation_run(const run_settings& settings, const schedule_tables& tables, working_memory memory,
                  std::FILE* out, std::FILE* err)
      : settings_(settings),
        tables_(tables),
        correlator_(tables, settings.thread_count, std::move(memory)),
        files_(std::make_unique<cor_file_table>()),
        sink_(tables, *files_, out),
        out_(out),
        err_(err) {
    guard_raw_windows(windows_);
  }

  // A run that ended early still flushes and closes what it opened, so every
  // output file ends on the last record written.
  ~correlation_run() {
    guard_raw_windows(nullptr);
    message_buffer ignored;
    korva_umap_raw_file(current_process(), tables_, descriptors_, windows_, 0, ignored);
    korva_close_cor_file(current_process(), tables_, settings_.cor_dir, *files_, ignored);
    for (raw_descriptor& descriptor : descriptors_) {
      if (descriptor.fd >= 0) close(descriptor.fd);
      descriptor.fd = -1;
    }
  }

  int run_all() {
    if (!open_file_limit_suffices()) return exit_failure;
    const int32_t processes = process_count(tables_);
    for (int32_t p = 0; p < processes; ++p) {
      if (run_process(p) != exit_success) return exit_failure;
    }
    print_correlation_finished(out_);
    return exit_success;
  }

 private:
  // One process from its Started to its Finished line.
  int run_process(int32_t index) {
    process_index_ = index;
    const process_info& process = tables_.processes[index];
    message_buffer message;
    print_process_started(out_, index + 1, wall_clock());
    if (correlator_.make_plans(message) < 0) return report_failure(err_, message);
    if (korva_open_raw_file(process, tables_, settings_.raw_dir, descriptors_, message) < 0)
      return report_failure(out_, message);
    if (korva_open_cor_file(process, tables_, settings_.cor_dir, *files_, message) < 0)
      return report_failure(out_, message);
    const process_plan plan = resolve_process_plan(tables_, index);
    correlator_.clear_coverage();
    const int seconds_status = run_seconds(plan);
    report_missing_data(plan);
    if (seconds_status != exit_success) return exit_failure;
    // Closing flushes the last records: a failure there is a write error.
    if (korva_close_cor_file(process, tables_, settings_.cor_dir, *files_, message) < 0)
      return report_failure(err_, message);
    if (korva_close_raw_file(process, tables_, settings_.raw_dir, descriptors_, message) < 0)
      return report_failure(out_, message);
    correlator_.destroy_plans();
    print_process_finished(out_, index + 1, wall_clock());
    return exit_success;
  }

  // A warning per station whose raw files did not cover every segment.
  void report_missing_data(const process_plan& plan) {
    const data_coverage& coverage = correlator_.coverage();
    for (int s = 0; s < max_stations; ++s) {
      if (!plan.takes_part[s]) continue;
      print_missing_data(err_, plan.process_index + 1, tables_.stations[s], coverage.station[s],
                         tables_.processes[plan.process_index].length);
    }
  }

  // Every second t of the process, epoch <= t < epoch + length in unsigned
  // 32-bit arithmetic: map the raw windows of t, correlate them, release them.
  // Raw-file failures are printed on out, correlation failures on err.
  int run_seconds(const process_plan& plan) {
    const process_info& process = tables_.processes[plan.process_index];
    message_buffer message;
    const uint32_t first = static_cast<uint32_t>(process.epoch);
    const uint32_t end = first + static_cast<uint32_t>(process.length);
    for (uint32_t t = first; t < end; ++t) {
      const int32_t second = static_cast<int32_t>(t);
      if (stop_signal() != 0) return report_stop(plan, second);
      if (korva_mmap_raw_file(process, tables_, descriptors_, windows_, second, message) < 0)
        return report_failure(out_, message);
      if (correlator_.correlate_second(plan, second, windows_, sink_, message) < 0)
        return report_failure(err_, message);
      if (korva_umap_raw_file(process, tables_, descriptors_, windows_, second, message) < 0)
        return report_failure(out_, message);
    }
    return exit_success;
  }

  // A process holds one descriptor per output file and taking-part station.
  // Raises the soft limit as far as the hard one allows when the largest
  // process needs more, and refuses the run before any file is created when
  // even that is too low (instead of failing half-way with empty files).
  bool open_file_limit_suffices() {
    constexpr rlim_t reserved = 16;  // standard streams, the schedule, libraries
    rlim_t needed = 0;
    int32_t largest = 0;
    const int32_t processes = process_count(tables_);
    for (int32_t p = 0; p < processes; ++p) {
      const process_plan plan = resolve_process_plan(tables_, p);
      const rlim_t files = static_cast<rlim_t>(plan.pair_count) * plan.stream_count + plan.station_count + reserved;
      if (files > needed) needed = files, largest = p;
    }
    rlimit limit{};
    if (needed == 0 || getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= needed) return true;
    const rlimit raised{limit.rlim_max >= needed ? needed : limit.rlim_max, limit.rlim_max};
    if (raised.rlim_cur > limit.rlim_cur && setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
    if (limit.rlim_cur >= needed) return true;
    std::fprintf(err_, "korva_corr : Process[%04d] needs %llu open files, more than the limit of %llu\n",
                 largest + 1, static_cast<unsigned long long>(needed), static_cast<unsigned long long>(limit.rlim_cur));
    std::fflush(err_);
    return false;
  }

  // A stop requested between seconds: where the run stopped.
  int report_stop(const process_plan& plan, int32_t second) {
    std::fprintf(err_, "korva_corr : Stopped by signal %s at Process[%04d] %s, every output file ends on a whole "
                 "record\n", sigabbrev_np(stop_signal()), plan.process_index + 1, schedule_epoch_text(second).text);
    std::fflush(err_);
    return exit_failure;
  }

  const process_info& current_process() const { return tables_.processes[process_index_]; }

  const run_settings& settings_;
  const schedule_tables& tables_;
  int32_t process_index_ = 0;
  correlator correlator_;
  raw_descriptor_table descriptors_;
  raw_window_table windows_;
  std::unique_ptr<cor_file_table> files_;  // large: on the heap
  cor_file_sink sink_;
  std::FILE* out_;
  std::FILE* err_;
};

}  // namespace

int run_processes(const run_settings& settings, const schedule_tables& tables, working_memory memory,
                  std::FILE* out, std::FILE* err) {
  const int status = correlation_run(settings, tables, std::move(memory), out, err).run_all();
  // A run stopped by a signal ends as the shell reports a signal: 128 + its number.
  if (status != exit_success && stop_signal() != 0) return 128 + stop_signal();
  return status;
}

int korva_corr_main(int argc, char** argv) {
  setenv("TZ", "GMT", 1);
  tzset();
  install_run_signal_handlers();
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
  working_memory memory;
  if (korva_memory_allocate(memory, settings.thread_count, message) < 0) return report_failure(stderr, message);
  auto schedule = std::make_unique<schedule_tables>();
  if (korva_read_schedule(*schedule, settings.schedule_path, message) < 0) return report_failure(stderr, message);
  for (const std::string& warning : schedule_warnings(*schedule)) std::fprintf(stderr, "%s\n", warning.c_str());
  print_start_lines(stdout, settings, schedule->terminal);
  return run_processes(settings, *schedule, std::move(memory), stdout, stderr);
}

}  // namespace korva
