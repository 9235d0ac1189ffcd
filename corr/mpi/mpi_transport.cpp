#include "mpi_transport.h"

#include <time.h>

#include <climits>
#include <cstring>

namespace korva {

namespace {

constexpr int manager_rank = 0;

void nap() {
  const timespec pause{0, 200000};  // 0.2 ms
  nanosleep(&pause, nullptr);
}

// Waits for a send to complete without spinning on the core.
void wait_politely(MPI_Request& request) {
  for (;;) {
    int done = 0;
    MPI_Test(&request, &done, MPI_STATUS_IGNORE);
    if (done) return;
    nap();
  }
}

// Sends of a unit's batches: each second goes out while the next one is
// correlated, two buffers in turn.
class batch_sender {
 public:
  void send(record_batch& batch) {
    slot_ = 1 - slot_;
    wait_politely(requests_[slot_]);
    std::swap(buffers_[slot_].bytes(), batch.bytes());
    std::vector<unsigned char>& bytes = buffers_[slot_].bytes();
    MPI_Isend(bytes.data(), static_cast<int>(bytes.size()), MPI_BYTE, manager_rank, tag_batch, MPI_COMM_WORLD,
              &requests_[slot_]);
  }
  void drain() {
    for (MPI_Request& request : requests_) wait_politely(request);
  }

 private:
  record_batch buffers_[2];
  MPI_Request requests_[2] = {MPI_REQUEST_NULL, MPI_REQUEST_NULL};
  int slot_ = 0;
};

}  // namespace

bool all_ranks_ok(bool ok) {
  int mine = ok ? 1 : 0;
  int all = 0;
  MPI_Allreduce(&mine, &all, 1, MPI_INT, MPI_LAND, MPI_COMM_WORLD);
  return all != 0;
}

mpi_executor::mpi_executor(int32_t ranks) : busy_(static_cast<std::size_t>(ranks > 1 ? ranks - 1 : 0), false) {}

int32_t mpi_executor::idle_workers() const {
  int32_t idle = 0;
  for (const bool busy : busy_) idle += busy ? 0 : 1;
  return idle;
}

void mpi_executor::start(const work_unit& unit) {
  for (std::size_t k = 0; k < busy_.size(); ++k) {
    if (busy_[k]) continue;
    busy_[k] = true;
    MPI_Send(&unit, sizeof unit, MPI_BYTE, static_cast<int>(k) + 1, tag_unit, MPI_COMM_WORLD);
    return;
  }
}

bool mpi_executor::poll(unit_events& events, int32_t wait_ms) {
  timespec begin{};
  clock_gettime(CLOCK_MONOTONIC, &begin);
  MPI_Status status;
  for (;;) {
    int waiting = 0;
    MPI_Iprobe(MPI_ANY_SOURCE, MPI_ANY_TAG, MPI_COMM_WORLD, &waiting, &status);
    if (waiting) break;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    if ((now.tv_sec - begin.tv_sec) * 1000 + (now.tv_nsec - begin.tv_nsec) / 1000000 >= wait_ms) return false;
    nap();
  }
  int bytes = 0;
  MPI_Get_count(&status, MPI_BYTE, &bytes);
  if (status.MPI_TAG == tag_batch) {
    std::vector<unsigned char>& buffer = incoming_.bytes();
    buffer.resize(static_cast<std::size_t>(bytes));
    MPI_Recv(buffer.data(), bytes, MPI_BYTE, status.MPI_SOURCE, tag_batch, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
    if (buffer.size() >= sizeof(batch_header)) events.batch_arrived(incoming_);
    return true;
  }
  job_done done{};
  MPI_Recv(&done, sizeof done, MPI_BYTE, status.MPI_SOURCE, status.MPI_TAG, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
  if (status.MPI_TAG == tag_done && status.MPI_SOURCE >= 1 &&
      static_cast<std::size_t>(status.MPI_SOURCE) <= busy_.size()) {
    busy_[static_cast<std::size_t>(status.MPI_SOURCE) - 1] = false;
    events.unit_finished(done.sequence, done.failed != 0 ? &done.failure : nullptr);
  }
  return true;
}

void mpi_executor::stop_workers() {
  for (std::size_t k = 0; k < busy_.size(); ++k)
    MPI_Send(nullptr, 0, MPI_BYTE, static_cast<int>(k) + 1, tag_stop, MPI_COMM_WORLD);
}

void run_worker(unit_runner& runner) {
  batch_sender sender;
  for (;;) {
    MPI_Status status;
    int waiting = 0;
    while (MPI_Iprobe(manager_rank, MPI_ANY_TAG, MPI_COMM_WORLD, &waiting, &status), !waiting) nap();
    work_unit unit{};
    MPI_Recv(&unit, sizeof unit, MPI_BYTE, manager_rank, status.MPI_TAG, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
    if (status.MPI_TAG != tag_unit) return;
    job_done done{};
    done.sequence = unit.sequence;
    const bool correlated = runner.run(
        unit,
        [&sender, &done, &unit](record_batch& batch) {
          if (done.failed) return;
          if (batch.bytes().size() > static_cast<std::size_t>(INT_MAX)) {
            done.failed = 1;
            done.failure.position = batch.position();
            done.failure.on_error_stream = 1;
            write_message(done.failure.message, "korva_mpi : Records of one second of process %d stream %d "
                          "exceed 2 GiB", unit.process_index + 1, unit.stream_index + 1);
            return;
          }
          sender.send(batch);
        },
        done.failure);
    if (!correlated && !done.failed) done.failed = 1;
    sender.drain();
    MPI_Send(&done, sizeof done, MPI_BYTE, manager_rank, tag_done, MPI_COMM_WORLD);
  }
}

}  // namespace korva
