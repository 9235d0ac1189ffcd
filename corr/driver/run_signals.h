// Signals that end a run early. SIGINT, SIGTERM and SIGPIPE (a closed
// standard output) only record a request to stop, which the run honours at
// the next record boundary, so every output file ends on a whole record and
// is flushed and closed. SIGBUS from a raw file that shrank while mapped is
// survived: the missing page reads as zeros and the station is recorded, and
// the run stops at the next record boundary naming the station instead of
// dying of the signal.
//
// A signal handler can reach nothing but file-level state, so the requests
// and the mapped windows it checks live here, and only here.
#pragma once

#include "raw_file.h"

namespace korva {

// Installs the handlers (once per process; later calls do nothing).
void install_run_signal_handlers();

// The signal that asked to stop (SIGINT, SIGTERM, SIGPIPE), or 0.
int stop_signal();

// The station whose raw file shrank under a mapped window, or -1.
int shrunk_station();

// Publishes the windows the SIGBUS handler may repair (null: none). Call on
// the main thread while no worker runs; the table must stay alive until it is
// withdrawn.
void guard_raw_windows(const raw_window* windows);

// Forgets every request (for tests and for a new run).
void clear_run_signals();

}  // namespace korva
