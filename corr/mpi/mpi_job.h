// A correlation job cut into units of work that any number of processes
// correlate in any order, while one manager writes the output files exactly as
// korva_corr writes them. A unit is one stream of a run of seconds of one
// process; its records travel as a record batch per second. Nothing here
// knows about MPI: the manager talks to its workers through a unit_executor,
// which the korva_mpi program implements over MPI and tests implement in
// memory.
#pragma once

#include <sys/time.h>

#include <compare>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <set>
#include <tuple>
#include <vector>

#include "command_line.h"
#include "cor_file.h"
#include "correlator.h"
#include "message_buffer.h"
#include "process_plan.h"
#include "raw_file.h"
#include "schedule.h"
#include "working_memory.h"

namespace korva {

// Settings of a korva_mpi run: those of korva_corr plus the unit length.
inline constexpr int32_t default_chunk_seconds = 10;
struct job_settings {
  run_settings run;
  int32_t chunk_seconds = default_chunk_seconds;
};

// Reads korva_corr's options plus --chunk=<seconds> (an integer of 1 or
// more), then the environment as korva_corr does. Usage and version name
// korva_mpi.
command_outcome read_job_command_line(int argc, char** argv, job_settings& settings, std::FILE* out,
                                      std::FILE* err);
void print_job_usage(std::FILE* out);

// A place in korva_corr's order of work: process, second of the process
// (offset from its epoch) and stream. Offset -1 is the process's start (raw
// files opened, output files created); stream -1 is the mapping of a second,
// before its first stream.
struct job_position {
  int32_t process = 0;
  int64_t offset = -1;
  int32_t stream = -1;
  auto operator<=>(const job_position&) const = default;
};
inline constexpr int64_t process_end_offset = INT64_MAX;  // closing the files

// One stream of seconds [first_offset, first_offset + seconds) of a process.
struct work_unit {
  int64_t sequence = 0;  // order of hand-out, from 0
  int32_t process_index = 0;
  int32_t stream_index = 0;
  int64_t first_offset = 0;
  int64_t seconds = 0;
  job_position start() const { return {process_index, first_offset, stream_index}; }
};

// Seconds korva_corr correlates in a process: epoch <= t < epoch + length in
// unsigned 32-bit arithmetic.
int64_t process_seconds(const process_info& process);


// The job's steps in hand-out order: for each process its start, then for each
// run of chunk seconds every stream. Units are numbered as they are taken.
class unit_cursor {
 public:
  unit_cursor(const schedule_tables& tables, int32_t chunk_seconds);
  enum class kind { process_start, unit, end };
  kind next_kind() const;
  int32_t process() const { return process_; }  // of the next step
  int64_t next_sequence() const { return sequence_; }
  job_position next_position() const;
  work_unit take_unit();     // next_kind() == unit
  void take_process_start();  // next_kind() == process_start
  int32_t units_of_process(int32_t process) const;

 private:
  void skip_empty();
  const schedule_tables& tables_;
  int32_t chunk_;
  int32_t processes_;
  int32_t streams_;
  int32_t process_ = 0;
  bool started_ = false;
  int64_t offset_ = 0;
  int32_t stream_ = 0;
  int64_t sequence_ = 0;
};

// The records of one unit and one second, packed for sending: a header, then
// per record its station pair, period, record header and spectrum.
struct batch_header {
  int64_t sequence;
  int64_t offset;
  int32_t process_index;
  int32_t stream_index;
  int32_t record_count;
  int32_t reserved;
  // Segments the second's stream correlated, and of them those each station's
  // raw file lacked (the correlator's data_coverage of the second).
  int64_t segments;
  int64_t missing_segments[max_stations];
};
struct batch_record {
  station_pair pair;
  int32_t period_index;
  int32_t bins;
  cor_record_header header;
  const float* spectrum;  // inside the batch's bytes
};
class record_batch {
 public:
  void reset(const work_unit& unit, int64_t offset);
  void append(const station_pair& pair, int32_t period_index, const cor_record_header& header,
              const float* spectrum, int32_t bins);
  // The coverage of the batch's second, counted by the correlator.
  void set_coverage(const data_coverage& coverage);
  const batch_header& header() const;
  std::vector<unsigned char>& bytes() { return bytes_; }
  const std::vector<unsigned char>& bytes() const { return bytes_; }
  // The records in order; false when the bytes are not a well-formed batch.
  bool read(std::vector<batch_record>& records) const;
  job_position position() const;

 private:
  std::vector<unsigned char> bytes_;
};

// Why a unit or the job stopped: korva_corr's message for it, the stream it
// prints it on, and where in korva_corr's order it would have stopped.
struct job_failure {
  job_position position;
  int32_t on_error_stream = 0;  // 1: standard error, 0: standard output
  message_buffer message;
};

// Correlates units on one process: maps the raw windows of each second of a
// unit and correlates the unit's stream with the correlator, thread_count
// threads. Keeps the raw files of the latest process open.
class unit_runner {
 public:
  unit_runner(const schedule_tables& tables, const job_settings& settings, working_memory memory);
  ~unit_runner();
  // The correlator's plans; false with the failure filled.
  bool prepare(job_failure& failure);
  // Calls deliver with the batch of every second in order. Returns false
  // with the failure filled; batches of earlier seconds have been delivered.
  bool run(const work_unit& unit, const std::function<void(record_batch&)>& deliver, job_failure& failure);

 private:
  bool open_process(int32_t process_index, job_failure& failure);
  void close_process();
  const schedule_tables& tables_;
  const job_settings& settings_;
  correlator correlator_;
  int32_t open_process_ = -1;
  process_plan plan_;
  raw_descriptor_table descriptors_;
};

// Where the manager hands units and hears back from: workers that each take
// one unit at a time.
class unit_events {
 public:
  virtual ~unit_events() = default;
  virtual void batch_arrived(const record_batch& batch) = 0;
  // After every batch of the unit; failure null when it succeeded.
  virtual void unit_finished(int64_t sequence, const job_failure* failure) = 0;
};
class unit_executor {
 public:
  virtual ~unit_executor() = default;
  virtual int32_t worker_count() const = 0;
  virtual int32_t idle_workers() const = 0;
  virtual void start(const work_unit& unit) = 0;
  // Delivers what has arrived; waits at most about wait_ms when nothing has.
  // Returns false when nothing arrived.
  virtual bool poll(unit_events& events, int32_t wait_ms) = 0;
};

// Per-process counts for the summary line and the progress display.
struct process_tally {
  int32_t units = 0;
  int32_t stations = 0;
  int32_t units_written = 0;
  int64_t stream_seconds_written = 0;  // seconds x streams
  timeval started{};
  timeval finished{};
  bool opened = false;
  bool closed = false;
  // Raw data the process's stations lacked, as korva_corr reports it.
  int64_t segments[max_stations] = {};
  int64_t missing_segments[max_stations] = {};
  std::set<int32_t> missing_seconds[max_stations];
};

// The manager's output side: creates each process's files when it starts,
// appends each unit's records once every earlier unit of the same process and
// stream has been written, closes a process's files after its last record,
// prints the process lines in process order, and on a failure leaves the
// files as korva_corr would have left them.
class ordered_writer : public unit_events {
 public:
  ordered_writer(const schedule_tables& tables, const job_settings& settings, std::FILE* out, std::FILE* err);
  ~ordered_writer() override;

  // Whether the files of process p can be opened now without going over the
  // open-file budget (always when no process has files open).
  bool can_start_process(int32_t process, int32_t units) const;
  // Checks the raw files and creates the output files of the process.
  void start_process(int32_t process, int32_t units);
  void unit_started(const work_unit& unit);
  void batch_arrived(const record_batch& batch) override;
  void unit_finished(int64_t sequence, const job_failure* failure) override;

  // Lowest sequence number not yet written, or -1 when none is pending.
  int64_t oldest_pending() const;
  bool failed() const { return failure_ != nullptr; }
  job_position failure_position() const;
  // Called before the writer prints a line (to clear a progress display).
  void set_line_hook(std::function<void()> hook) { line_hook_ = std::move(hook); }
  // Seconds of the job written so far (summed over processes, streams
  // averaged) and in the whole job.
  double seconds_done() const;
  int64_t job_seconds() const { return job_seconds_; }
  double raw_bytes_done() const;

  // The end of the job: on failure the output files cut back, the process
  // lines and the message printed; otherwise the closing line. Returns the
  // exit status.
  int finish();
  // The end of a job asked to stop by a signal: every open output file closed
  // on the last whole record written, the finished processes' lines and one
  // line saying so. Returns 128 + the signal's number.
  int stop(int signal_number);

 private:
  struct unit_state;
  struct open_process;
  struct created_file {
    std::string path;
    int32_t stream;
  };
  void fail(const job_failure& failure);
  void write_batch(const record_batch& batch);
  void advance_stream(int32_t process, int32_t stream);
  void close_finished_processes();
  void print_finished_processes();
  void cut_files_after_failure();
  void close_process(int32_t process);
  void print_process_lines(int32_t process);
  void count_coverage(const batch_header& batch);
  const schedule_tables& tables_;
  const job_settings& settings_;
  std::FILE* out_;
  std::FILE* err_;
  int64_t open_file_budget_;
  int64_t open_files_ = 0;
  int64_t job_seconds_ = 0;
  std::vector<process_tally> tally_;
  std::map<int32_t, std::unique_ptr<open_process>> open_;
  std::map<int64_t, std::unique_ptr<unit_state>> units_;  // by sequence
  std::map<std::pair<int32_t, int32_t>, int64_t> next_offset_;  // (process, stream) -> next unit to write
  std::map<std::tuple<int32_t, int32_t, int64_t>, int64_t> by_place_;  // (process, stream, offset) -> sequence
  std::map<int32_t, std::vector<created_file>> created_;  // of processes not yet reported
  std::function<void()> line_hook_;
  double raw_bytes_done_ = 0.0;
  double seconds_done_ = 0.0;
  int32_t next_report_ = 0;
  std::unique_ptr<job_failure> failure_;
};

// Progress on the manager's terminal: seconds done, data rate and speed
// against real time, in place, at most a few times a second.
class progress_display {
 public:
  progress_display(std::FILE* out, bool enabled);
  void update(const ordered_writer& writer, bool force);
  void clear();

 private:
  std::FILE* out_;
  bool enabled_;
  timeval start_{};
  double last_ = -1.0;
  bool shown_ = false;
  int width_ = 0;  // of the longest line shown
};

// The manager's loop: hands out units in order as workers become free, at
// most window units pending (handed out but not written), and feeds what
// comes back to the writer. Returns the exit status.
int run_job(const schedule_tables& tables, const job_settings& settings, unit_executor& executor,
            std::FILE* out, std::FILE* err, bool show_progress);

// Units handed out but not yet written, at most: twice the workers, at least 2.
int32_t pending_unit_bound(int32_t workers);

// An executor of one worker: the calling process correlates each unit as it
// is started (the manager of a single-rank job).
class local_executor : public unit_executor {
 public:
  explicit local_executor(unit_runner& runner) : runner_(runner) {}
  int32_t worker_count() const override { return 1; }
  int32_t idle_workers() const override { return busy_ ? 0 : 1; }
  void start(const work_unit& unit) override;
  bool poll(unit_events& events, int32_t wait_ms) override;

 private:
  unit_runner& runner_;
  bool busy_ = false;
  work_unit unit_;
};

// Wall-clock time in seconds between two readings.
double seconds_between(const timeval& from, const timeval& to);

}  // namespace korva
