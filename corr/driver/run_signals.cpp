#include "run_signals.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

namespace korva {

namespace {

std::atomic<int> requested_stop{0};
std::atomic<int> shrunk{-1};
std::atomic<const raw_window*> guarded{nullptr};
std::atomic<bool> installed{false};

void on_stop_signal(int signal_number) {
  int none = 0;
  requested_stop.compare_exchange_strong(none, signal_number);  // the first request wins
}

// The station whose window holds address, or -1.
int station_of(const void* address) {
  const raw_window* windows = guarded.load();
  if (windows == nullptr) return -1;
  const auto at = reinterpret_cast<std::uintptr_t>(address);
  for (int s = 0; s < max_stations; ++s) {
    const auto base = reinterpret_cast<std::uintptr_t>(windows[s].base);
    if (windows[s].base != nullptr && at >= base &&
        at < base + static_cast<std::uintptr_t>(windows[s].word_count) * 4)
      return s;
  }
  return -1;
}

// A page of a mapped window beyond the end of its shrunken file: put a page
// of zeros in its place so the read completes, and remember the station.
// Any other SIGBUS is a fault of the program and ends it as before.
void on_bus_error(int signal_number, siginfo_t* info, void*) {
  const int station = station_of(info->si_addr);
  const long page = sysconf(_SC_PAGESIZE);
  void* page_start = reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(info->si_addr) &
                                             ~static_cast<std::uintptr_t>(page - 1));
  if (station < 0 || mmap(page_start, static_cast<std::size_t>(page), PROT_READ,
                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) == MAP_FAILED) {
    signal(signal_number, SIG_DFL);
    raise(signal_number);
    return;
  }
  int none = -1;
  shrunk.compare_exchange_strong(none, station);
}

void install(int signal_number, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // interrupted writes of records go on
  sigaction(signal_number, &action, nullptr);
}

}  // namespace

void install_run_signal_handlers() {
  if (installed.exchange(true)) return;
  install(SIGINT, on_stop_signal);
  install(SIGTERM, on_stop_signal);
  install(SIGPIPE, on_stop_signal);
  struct sigaction action {};
  action.sa_sigaction = on_bus_error;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  sigaction(SIGBUS, &action, nullptr);
}

int stop_signal() { return requested_stop.load(); }

int shrunk_station() { return shrunk.load(); }

void guard_raw_windows(const raw_window* windows) { guarded.store(windows); }

void clear_run_signals() {
  requested_stop.store(0);
  shrunk.store(-1);
}

}  // namespace korva
