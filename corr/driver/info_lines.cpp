#include "info_lines.h"

#include <ctime>

namespace korva {

namespace {

constexpr const char* prefix = "KORVA_CORR [Information] : ";

void print_process_line(std::FILE* out, int32_t number, const char* event, const timeval& now) {
  char time_text[32];
  format_wall_clock(now, time_text);
  std::fprintf(out, "%sProcess[%04d] %s %s.%06d\n", prefix, number, event, time_text,
               static_cast<int>(now.tv_usec));
}

}  // namespace

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
