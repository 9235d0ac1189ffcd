// The run of korva_corr: start-up, then every process of the schedule second
// by second.
#pragma once

#include <cstdio>

#include "command_line.h"
#include "schedule.h"
#include "working_memory.h"

namespace korva {

// Runs every process of the read schedule in order (at most max_processes,
// ending at the first epoch 0) with settings.thread_count workers, which use
// the given memory. Prints the Started and Finished lines of each process,
// the progress lines and the closing line on out. Returns exit_success, or
// exit_failure after printing the failing step's message (raw-file steps on
// out, the others on err).
int run_processes(const run_settings& settings, const schedule_tables& tables, working_memory memory,
                  std::FILE* out, std::FILE* err);

// The whole program: time zone, options, environment, working memory,
// schedule, information lines, processes. Returns the exit status.
int korva_corr_main(int argc, char** argv);

}  // namespace korva
