#include "info_lines.h"

#include <ctime>

#include "epoch_text.h"
#include <string>

namespace korva {

namespace {

constexpr const char* prefix = "KORVA_CORR [Information] : ";

void print_process_line(std::FILE* out, int32_t number, const char* event, const timeval& now) {
  char time_text[32];
  format_wall_clock(now, time_text);
  std::fprintf(out, "%sProcess[%04d] %s %s.%06d\n", prefix, number, event, time_text,
               static_cast<int>(now.tv_usec));
}

// Runs listed in a warning; the count of the others follows them.
constexpr std::size_t listed_runs = 4;

}  // namespace

void print_missing_data(std::FILE* err, int32_t number, const station_info& station,
                        const station_coverage& coverage, int32_t process_length) {
  if (coverage.missing_segments == 0 || coverage.segments == 0) return;
  std::string seconds;
  const std::vector<second_run> runs = second_runs(coverage.missing_seconds);
  for (std::size_t r = 0; r < runs.size() && r < listed_runs; ++r) {
    seconds += (r > 0 ? ", " : "") + std::string(schedule_epoch_text(runs[r].first).text);
    if (runs[r].last != runs[r].first)
      seconds += std::string(" - ") + (schedule_epoch_text(runs[r].last).text + 9);  // time of day only
  }
  if (runs.size() > listed_runs) seconds += " and " + std::to_string(runs.size() - listed_runs) + " more";
  std::fprintf(err,
               "korva_corr : Warning: Process[%04d] station[%.16s]: raw data missing in %zu of %d seconds "
               "(%s); %.1f%% of its segments are zeros\n",
               number, station.name, coverage.missing_seconds.size(), process_length, seconds.c_str(),
               100.0 * static_cast<double>(coverage.missing_segments) / static_cast<double>(coverage.segments));
  std::fflush(err);
}

void format_wall_clock(const timeval& now, char (&text)[32]) {
  const std::time_t seconds = now.tv_sec;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  std::strftime(text, sizeof text, "%Y/%j %H:%M:%S", &utc);
}

void print_start_lines(std::FILE* out, const run_settings& settings, const terminal_info& terminal) {
  std::fprintf(out, "%sSchedule-File      = %s\n", prefix, settings.schedule_path);
  std::fprintf(out, "%sTerminal           = %.16s %04dMsps/%dbit/%02dch\n", prefix, terminal.name,
               terminal.sample_rate / 1000000, terminal.bits, terminal.channels);
  std::fprintf(out, "%sRaw-File Directory = %s\n", prefix, settings.raw_dir);
  std::fprintf(out, "%sCor-File Directory = %s\n", prefix, settings.cor_dir);
  std::fprintf(out, "%sMulti-Thread       = %02d\n", prefix, settings.thread_count);
}

void print_process_started(std::FILE* out, int32_t number, const timeval& now) {
  print_process_line(out, number, "Started ", now);
}

void print_process_finished(std::FILE* out, int32_t number, const timeval& now) {
  print_process_line(out, number, "Finished", now);
}

void print_correlation_finished(std::FILE* out) { std::fprintf(out, "%sCorrelation Finished\n", prefix); }

}  // namespace korva
