// The manager's output: records appended in korva_corr's order whatever the
// order in which units come back, process lines in process order, and on a
// failure the files left as korva_corr would have left them.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "info_lines.h"
#include "mpi_job.h"

namespace korva {

struct ordered_writer::unit_state {
  work_unit unit;
  std::deque<record_batch> held;  // arrived before the unit's turn
  bool finished = false;
  bool writing = false;  // every earlier unit of its process and stream is written
};

struct ordered_writer::open_process {
  cor_file_table files;
  int64_t file_count = 0;
};

namespace {

timeval wall_clock() {
  timeval now{};
  gettimeofday(&now, nullptr);
  return now;
}

// Output files the manager may hold open at once, leaving room for the
// standard streams, the MPI library and the raw files it checks.
int64_t open_file_budget() {
  rlimit limit{};
  int64_t soft = 1024;
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) soft = static_cast<int64_t>(limit.rlim_cur);
  return soft - 64 < 64 ? 64 : soft - 64;
}

int64_t files_of_process(const schedule_tables& tables, int32_t process) {
  return int64_t{resolve_process_plan(tables, process).pair_count} * stream_count(tables);
}

// Bytes of a file of the stream holding records of the first seconds seconds.
int64_t file_bytes(const stream_info& stream, int64_t seconds) {
  const int64_t periods = stream.pp_per_second > 0 ? stream.pp_per_second : 0;
  const int64_t record = cor_record_header_bytes + int64_t{8} * (stream.fft_points / 2);
  return cor_file_header_bytes + seconds * periods * record;
}

}  // namespace

double seconds_between(const timeval& from, const timeval& to) {
  return static_cast<double>(to.tv_sec - from.tv_sec) + 1e-6 * static_cast<double>(to.tv_usec - from.tv_usec);
}

ordered_writer::ordered_writer(const schedule_tables& tables, const job_settings& settings, std::FILE* out,
                               std::FILE* err)
    : tables_(tables), settings_(settings), out_(out), err_(err), open_file_budget_(open_file_budget()) {
  tally_.resize(static_cast<std::size_t>(process_count(tables)));
  for (std::size_t p = 0; p < tally_.size(); ++p) job_seconds_ += process_seconds(tables.processes[p]);
}

ordered_writer::~ordered_writer() {
  message_buffer message;
  for (auto& [process, files] : open_)
    korva_close_cor_file(tables_.processes[process], tables_, settings_.run.cor_dir, files->files, message);
}

bool ordered_writer::can_start_process(int32_t process, int32_t /*units*/) const {
  if (open_.empty()) return true;
  // Output files are named after the process's epoch: a process of the same
  // epoch replaces the files of the earlier one once they are closed, as in
  // korva_corr, never while they are being written.
  for (const auto& [other, files] : open_) {
    if (tables_.processes[other].epoch == tables_.processes[process].epoch) return false;
  }
  return open_files_ + files_of_process(tables_, process) <= open_file_budget_;
}

void ordered_writer::start_process(int32_t process, int32_t units) {
  process_tally& tally = tally_[process];
  tally.started = wall_clock();
  tally.units = units;
  tally.stations = resolve_process_plan(tables_, process).station_count;
  tally.opened = true;
  const process_info& info = tables_.processes[process];
  message_buffer message;
  // The raw files are checked here, in the order korva_corr opens them, so a
  // missing one stops the job before this process's output files exist.
  raw_descriptor_table descriptors;
  const int32_t raw = korva_open_raw_file(info, tables_, settings_.run.raw_dir, descriptors, message);
  message_buffer ignored;
  korva_close_raw_file(info, tables_, settings_.run.raw_dir, descriptors, ignored);
  if (raw < 0) {
    fail(job_failure{{process, -1, -1}, 0, message});
    return;
  }
  auto files = std::make_unique<open_process>();
  const int32_t created = korva_open_cor_file(info, tables_, settings_.run.cor_dir, files->files, message);
  std::vector<created_file>& list = created_[process];
  for (int a = 0; a < max_stations; ++a)
    for (int b = a; b < max_stations; ++b)
      for (int s = 0; s < max_streams; ++s)
        if (files->files.file[a][b][s] != nullptr) list.push_back({files->files.path[a][b][s], s});
  files->file_count = static_cast<int64_t>(list.size());
  open_files_ += files->file_count;
  open_[process] = std::move(files);
  if (created < 0) {
    fail(job_failure{{process, -1, -1}, 0, message});
    return;
  }
  if (units == 0) close_process(process);
}

void ordered_writer::unit_started(const work_unit& unit) {
  auto state = std::make_unique<unit_state>();
  state->unit = unit;
  state->writing = next_offset_[{unit.process_index, unit.stream_index}] == unit.first_offset;
  by_place_[{unit.process_index, unit.stream_index, unit.first_offset}] = unit.sequence;
  units_[unit.sequence] = std::move(state);
}

void ordered_writer::batch_arrived(const record_batch& batch) {
  const auto found = units_.find(batch.header().sequence);
  if (found == units_.end()) return;
  if (found->second->writing) {
    write_batch(batch);
  } else {
    found->second->held.push_back(batch);
  }
}

void ordered_writer::unit_finished(int64_t sequence, const job_failure* failure) {
  if (failure != nullptr) fail(*failure);
  const auto found = units_.find(sequence);
  if (found == units_.end()) return;
  found->second->finished = true;
  if (found->second->writing) advance_stream(found->second->unit.process_index, found->second->unit.stream_index);
}

// Writes the units of a process and stream whose turn has come, in order,
// as far as they have arrived.
void ordered_writer::advance_stream(int32_t process, int32_t stream) {
  int64_t& next = next_offset_[{process, stream}];
  for (;;) {
    const auto place = by_place_.find({process, stream, next});
    if (place == by_place_.end()) break;
    unit_state& state = *units_[place->second];
    state.writing = true;
    for (const record_batch& batch : state.held) write_batch(batch);
    state.held.clear();
    if (!state.finished) break;
    next += state.unit.seconds;
    tally_[process].units_written += 1;
    units_.erase(place->second);
    by_place_.erase(place);
  }
  close_finished_processes();
}

void ordered_writer::write_batch(const record_batch& batch) {
  const job_position position = batch.position();
  if (failure_ != nullptr && !(position < failure_->position)) return;  // korva_corr stops before it
  const auto files = open_.find(position.process);
  std::vector<batch_record> records;
  message_buffer message;
  if (files == open_.end() || !batch.read(records)) {
    write_message(message, "korva_mpi : Malformed records of process %d stream %d from a worker",
                  position.process + 1, position.stream + 1);
    fail(job_failure{position, 1, message});
    return;
  }
  for (const batch_record& r : records) {
    if (korva_write_cor_record(files->second->files, r.pair.first, r.pair.second, position.stream, r.header,
                               r.spectrum, r.bins, message) < 0) {
      fail(job_failure{position, 1, message});
      return;
    }
  }
  // mpirun, when signalled, kills every rank within a second: handing each
  // batch to the system keeps the files on whole records even then.
  // One period's records name every file of the batch once.
  for (const batch_record& r : records) {
    if (r.period_index != records.front().period_index) break;
    std::fflush(files->second->files.file[r.pair.first][r.pair.second][position.stream]);
  }
  count_coverage(batch.header());
  process_tally& tally = tally_[position.process];
  tally.stream_seconds_written += 1;
  const double streams = stream_count(tables_);
  seconds_done_ += 1.0 / streams;
  raw_bytes_done_ += static_cast<double>(raw_bytes_per_second(tables_.terminal)) * tally.stations / streams;
}

void ordered_writer::count_coverage(const batch_header& batch) {
  process_tally& tally = tally_[batch.process_index];
  const process_info& process = tables_.processes[batch.process_index];
  const int32_t second = static_cast<int32_t>(static_cast<uint32_t>(process.epoch) + static_cast<uint32_t>(batch.offset));
  for (int s = 0; s < max_stations; ++s) {
    tally.segments[s] += batch.segments;
    tally.missing_segments[s] += batch.missing_segments[s];
    if (batch.missing_segments[s] > 0) tally.missing_seconds[s].insert(second);
  }
}

void ordered_writer::close_finished_processes() {
  std::vector<int32_t> finished;
  for (const auto& [process, files] : open_) {
    const process_tally& tally = tally_[process];
    if (tally.units_written == tally.units) finished.push_back(process);
  }
  for (const int32_t process : finished) close_process(process);
}

// Closing flushes the last records: a failure there is a write error.
void ordered_writer::close_process(int32_t process) {
  const auto found = open_.find(process);
  if (found == open_.end()) return;
  message_buffer message;
  const int32_t closed =
      korva_close_cor_file(tables_.processes[process], tables_, settings_.run.cor_dir, found->second->files, message);
  open_files_ -= found->second->file_count;
  open_.erase(found);
  process_tally& tally = tally_[process];
  tally.finished = wall_clock();
  tally.closed = true;
  for (auto place = next_offset_.lower_bound({process, 0});
       place != next_offset_.end() && place->first.first == process;)
    place = next_offset_.erase(place);
  if (closed < 0) fail(job_failure{{process, process_end_offset, max_streams}, 1, message});
  print_finished_processes();
}

void ordered_writer::print_process_lines(int32_t process) {
  if (line_hook_) line_hook_();
  const process_tally& tally = tally_[process];
  print_process_started(out_, process + 1, tally.started);
  print_process_finished(out_, process + 1, tally.finished);
  for (int s = 0; s < max_stations; ++s) {
    station_coverage coverage;
    coverage.segments = tally.segments[s];
    coverage.missing_segments = tally.missing_segments[s];
    coverage.missing_seconds.assign(tally.missing_seconds[s].begin(), tally.missing_seconds[s].end());
    print_missing_data(err_, process + 1, tables_.stations[s], coverage, tables_.processes[process].length);
  }
  const double wall = seconds_between(tally.started, tally.finished);
  const int64_t seconds = process_seconds(tables_.processes[process]);
  const double megabytes =
      static_cast<double>(seconds) * tally.stations * static_cast<double>(raw_bytes_per_second(tables_.terminal)) / 1e6;
  std::fprintf(out_,
               "KORVA_CORR [Information] : Process[%04d] Summary  %lld s x %d streams in %d units, "
               "%.1f MB of raw data in %.3f s: %.1f MB/s, %.2fx real time\n",
               process + 1, static_cast<long long>(seconds), stream_count(tables_), tally.units, megabytes, wall,
               wall > 0 ? megabytes / wall : 0.0, wall > 0 ? static_cast<double>(seconds) / wall : 0.0);
  std::fflush(out_);
}

// Process lines in process order, as far as processes have finished (never
// that of a process korva_corr would not have finished).
void ordered_writer::print_finished_processes() {
  while (next_report_ < static_cast<int32_t>(tally_.size()) && tally_[next_report_].closed &&
         (failure_ == nullptr || next_report_ < failure_->position.process)) {
    print_process_lines(next_report_);
    created_.erase(next_report_);
    ++next_report_;
  }
}

void ordered_writer::fail(const job_failure& failure) {
  if (failure_ != nullptr && !(failure.position < failure_->position)) return;
  failure_ = std::make_unique<job_failure>(failure);
}

job_position ordered_writer::failure_position() const {
  return failure_ != nullptr ? failure_->position : job_position{INT32_MAX, process_end_offset, INT32_MAX};
}

int64_t ordered_writer::oldest_pending() const { return units_.empty() ? -1 : units_.begin()->first; }

double ordered_writer::seconds_done() const { return seconds_done_; }

double ordered_writer::raw_bytes_done() const { return raw_bytes_done_; }

// Files of the failing process keep the records korva_corr had written when
// it stopped; files of later processes, which it would not have created, are
// removed.
void ordered_writer::cut_files_after_failure() {
  const job_position& stop = failure_->position;
  for (const auto& [process, files] : created_) {
    if (process < stop.process || (process == stop.process && stop.offset == process_end_offset)) continue;
    for (const created_file& file : files) {
      if (process > stop.process) {
        std::remove(file.path.c_str());
        continue;
      }
      const int64_t length = process_seconds(tables_.processes[process]);
      int64_t seconds = stop.offset < 0 ? 0 : stop.offset + (file.stream < stop.stream ? 1 : 0);
      if (seconds > length) seconds = length;
      const int64_t bytes = file_bytes(tables_.streams[file.stream], seconds);
      struct stat status {};
      if (stat(file.path.c_str(), &status) == 0 && status.st_size > bytes) {
        if (truncate(file.path.c_str(), bytes) != 0) {
          std::fprintf(err_, "korva_mpi : Can't cut cor-file[%s] back to %lld bytes\n", file.path.c_str(),
                       static_cast<long long>(bytes));
        }
      }
    }
  }
}

int ordered_writer::stop(int signal_number) {
  if (line_hook_) line_hook_();
  message_buffer ignored;
  for (auto& [process, files] : open_)
    korva_close_cor_file(tables_.processes[process], tables_, settings_.run.cor_dir, files->files, ignored);
  open_.clear();
  print_finished_processes();
  std::fflush(out_);
  std::fprintf(err_, "korva_mpi : Stopped by signal %s after %.0f of %lld seconds, every output file ends on a "
               "whole record\n", sigabbrev_np(signal_number), seconds_done_, static_cast<long long>(job_seconds_));
  std::fflush(err_);
  return 128 + signal_number;
}

int ordered_writer::finish() {
  if (line_hook_) line_hook_();
  if (failure_ == nullptr) {
    print_finished_processes();
    if (next_report_ < static_cast<int32_t>(tally_.size())) {  // never expected: say so rather than finish
      std::fprintf(err_, "korva_mpi : The job ended before process %d was written\n", next_report_ + 1);
      std::fflush(err_);
      return exit_failure;
    }
    print_correlation_finished(out_);
    std::fflush(out_);
    return exit_success;
  }
  message_buffer ignored;
  for (auto& [process, files] : open_)
    korva_close_cor_file(tables_.processes[process], tables_, settings_.run.cor_dir, files->files, ignored);
  open_.clear();
  cut_files_after_failure();
  print_finished_processes();
  const int32_t process = failure_->position.process;
  if (process >= 0 && process < static_cast<int32_t>(tally_.size())) {
    print_process_started(out_, process + 1, tally_[process].opened ? tally_[process].started : wall_clock());
  }
  std::fflush(out_);
  std::FILE* stream = failure_->on_error_stream != 0 ? err_ : out_;
  std::fprintf(stream, "%s\n", failure_->message.text);
  std::fflush(stream);
  return exit_failure;
}

}  // namespace korva
