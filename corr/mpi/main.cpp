// korva_mpi: the processes of a schedule correlated by the ranks of an MPI
// job. Rank 0 manages (reads the schedule, writes every output file); the
// other ranks correlate units of work; a single rank does both.
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <memory>

#include "info_lines.h"
#include "mpi_job.h"
#include "mpi_transport.h"
#include "run_signals.h"

namespace {

using namespace korva;

// What rank 0 tells every rank after reading the command line.
struct start_message {
  int32_t outcome;  // command_outcome
  job_settings settings;
};

int report(const message_buffer& message) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s\n", message.text);
  std::fflush(stderr);
  return exit_failure;
}

int run_rank(int argc, char** argv, int rank, int ranks) {
  start_message start{static_cast<int32_t>(command_outcome::run), {}};
  if (rank == 0) {
    command_outcome outcome = command_outcome::finished;
    if (argc <= 1) {
      print_job_usage(stdout);
    } else {
      outcome = read_job_command_line(argc, argv, start.settings, stdout, stderr);
    }
    start.outcome = static_cast<int32_t>(outcome);
    std::fflush(stdout);
  }
  MPI_Bcast(&start, sizeof start, MPI_BYTE, 0, MPI_COMM_WORLD);
  const auto outcome = static_cast<command_outcome>(start.outcome);
  if (outcome == command_outcome::finished) return exit_success;
  if (outcome == command_outcome::failed) return exit_failure;
  const job_settings& settings = start.settings;

  const bool correlates = ranks == 1 || rank != 0;
  message_buffer message;
  working_memory memory;
  bool ok = !correlates || korva_memory_allocate(memory, settings.run.thread_count, message) >= 0;
  if (!ok) report(message);
  if (!all_ranks_ok(ok)) return exit_failure;

  auto tables = std::make_unique<schedule_tables>();
  ok = rank != 0 || korva_read_schedule(*tables, settings.run.schedule_path, message) >= 0;
  if (!ok) report(message);
  if (!all_ranks_ok(ok)) return exit_failure;
  MPI_Bcast(tables.get(), sizeof *tables, MPI_BYTE, 0, MPI_COMM_WORLD);
  if (rank == 0) {
    print_start_lines(stdout, settings.run, tables->terminal);
    std::fflush(stdout);
  }

  // On SIGINT or SIGTERM mpirun signals every rank and kills them all a
  // second later, or as soon as one dies. So no rank dies of it: the workers
  // go on, and the manager closes its files between records and aborts the
  // job itself.
  install_run_signal_handlers();

  std::unique_ptr<unit_runner> runner;
  job_failure failure;
  if (correlates) {
    runner = std::make_unique<unit_runner>(*tables, settings, std::move(memory));
    ok = runner->prepare(failure);
    if (!ok) report(failure.message);
  }
  if (!all_ranks_ok(ok)) return exit_failure;

  if (rank != 0) {
    run_worker(*runner);
    return exit_success;
  }
  const bool show_progress = isatty(fileno(stdout)) != 0;
  if (ranks == 1) {
    local_executor executor(*runner);
    return run_job(*tables, settings, executor, stdout, stderr, show_progress);
  }
  mpi_executor executor(ranks);
  const int status = run_job(*tables, settings, executor, stdout, stderr, show_progress);
  if (stop_signal() != 0) MPI_Abort(MPI_COMM_WORLD, status);  // the workers may be gone already
  executor.stop_workers();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("TZ", "GMT", 1);
  tzset();
  MPI_Init(&argc, &argv);
  int rank = 0;
  int ranks = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &ranks);
  const int status = run_rank(argc, argv, rank, ranks);
  MPI_Finalize();
  return status;
}
