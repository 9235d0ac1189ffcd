// The information lines of korva_corr on standard output.
#pragma once

#include <sys/time.h>

#include <cstdint>
#include <cstdio>

#include "command_line.h"
#include "data_coverage.h"
#include "schedule.h"

namespace korva {

// The five lines after the schedule is read: schedule, terminal, directories,
// thread count.
void print_start_lines(std::FILE* out, const run_settings& settings, const terminal_info& terminal);

// "Process[nnnn] Started  <UTC time>.<microseconds>" of the 1-based process
// number, at wall-clock time now.
void print_process_started(std::FILE* out, int32_t number, const timeval& now);
void print_process_finished(std::FILE* out, int32_t number, const timeval& now);

// The warning line of a station of process number (1-based) whose raw data
// did not cover every segment: how many of the process's seconds lacked data,
// which (as runs of consecutive seconds, the first few), and the fraction of
// the station's segments affected. Prints nothing for complete data.
void print_missing_data(std::FILE* err, int32_t number, const station_info& station,
                        const station_coverage& coverage, int32_t process_length);

// The last line of a run.
void print_correlation_finished(std::FILE* out);

// Wall-clock time as "YYYY/DDD HH:MM:SS" in UTC (32 bytes with the NUL).
void format_wall_clock(const timeval& now, char (&text)[32]);

}  // namespace korva
