// korva_mpi's messages between the manager (rank 0) and the workers: a unit
// handed out, the record batch of each second, the end of a unit, the end of
// the job. Every wait polls and sleeps briefly, so that an idle rank leaves
// its core to the ranks that correlate.
#pragma once

#include <mpi.h>

#include <vector>

#include "mpi_job.h"

namespace korva {

enum message_tag : int {
  tag_unit = 1,   // manager -> worker: a work_unit
  tag_stop = 2,   // manager -> worker: no more units
  tag_batch = 3,  // worker -> manager: the records of one second
  tag_done = 4,   // worker -> manager: a unit ended (job_done)
};

struct job_done {
  int64_t sequence;
  int32_t failed;
  int32_t reserved;
  job_failure failure;
};

// The manager's side: worker ranks 1 .. ranks - 1, one unit each at a time.
class mpi_executor : public unit_executor {
 public:
  explicit mpi_executor(int32_t ranks);
  int32_t worker_count() const override { return static_cast<int32_t>(busy_.size()); }
  int32_t idle_workers() const override;
  void start(const work_unit& unit) override;
  bool poll(unit_events& events, int32_t wait_ms) override;
  // Tells every worker that the job is over.
  void stop_workers();

 private:
  std::vector<bool> busy_;  // by worker rank - 1
  record_batch incoming_;
};

// A worker's loop: correlates the units it is given until told to stop.
void run_worker(unit_runner& runner);

// Whether every rank reports ok.
bool all_ranks_ok(bool ok);

}  // namespace korva
