// Correlating one unit: the raw windows of each of its seconds mapped in turn,
// its stream correlated, the records of each second collected in a batch.
#include "mpi_job.h"

namespace korva {

namespace {

// Collects the records of one second of one stream.
class batch_sink : public record_sink {
 public:
  explicit batch_sink(record_batch& batch) : batch_(batch) {}
  int32_t write_record(const period_id& period, const station_pair& pair, const cor_record_header& header,
                       const float* spectrum, int32_t bins, message_buffer& /*message*/) override {
    batch_.append(pair, period.period_index, header, spectrum, bins);
    return 1;
  }

 private:
  record_batch& batch_;
};

void set_failure(job_failure& failure, const job_position& position, bool on_error_stream,
                 const message_buffer& message) {
  failure.position = position;
  failure.on_error_stream = on_error_stream ? 1 : 0;
  failure.message = message;
}

}  // namespace

unit_runner::unit_runner(const schedule_tables& tables, const job_settings& settings, working_memory memory)
    : tables_(tables), settings_(settings), correlator_(tables, settings.run.thread_count, std::move(memory)) {}

unit_runner::~unit_runner() { close_process(); }

bool unit_runner::prepare(job_failure& failure) {
  message_buffer message;
  if (correlator_.make_plans(message) == 1) return true;
  set_failure(failure, {0, -1, -1}, true, message);
  return false;
}

bool unit_runner::open_process(int32_t process_index, job_failure& failure) {
  if (process_index == open_process_) return true;
  close_process();
  open_process_ = process_index;  // the table holds its descriptors, also after a failed open
  message_buffer message;
  if (korva_open_raw_file(tables_.processes[process_index], tables_, settings_.run.raw_dir, descriptors_,
                          message) < 0) {
    set_failure(failure, {process_index, -1, -1}, false, message);
    close_process();
    return false;
  }
  plan_ = resolve_process_plan(tables_, process_index);
  return true;
}

void unit_runner::close_process() {
  if (open_process_ < 0) return;
  message_buffer message;
  korva_close_raw_file(tables_.processes[open_process_], tables_, settings_.run.raw_dir, descriptors_, message);
  open_process_ = -1;
}

bool unit_runner::run(const work_unit& unit, const std::function<void(record_batch&)>& deliver,
                      job_failure& failure) {
  if (!open_process(unit.process_index, failure)) return false;
  const process_info& process = tables_.processes[unit.process_index];
  record_batch batch;
  batch_sink sink(batch);
  raw_window_table windows;
  message_buffer message;
  for (int64_t offset = unit.first_offset; offset < unit.first_offset + unit.seconds; ++offset) {
    const int32_t second = static_cast<int32_t>(static_cast<uint32_t>(process.epoch) + static_cast<uint32_t>(offset));
    if (korva_mmap_raw_file(process, tables_, descriptors_, windows, second, message) < 0) {
      set_failure(failure, {unit.process_index, offset, -1}, false, message);
      korva_umap_raw_file(process, tables_, descriptors_, windows, second, message);  // those mapped before
      return false;
    }
    batch.reset(unit, offset);
    correlator_.clear_coverage();
    const int32_t result = correlator_.correlate_stream(plan_, unit.stream_index, second, windows, sink, message);
    batch.set_coverage(correlator_.coverage());
    message_buffer unmapped;  // the correlator's message stays
    korva_umap_raw_file(process, tables_, descriptors_, windows, second, unmapped);
    if (result < 0) {
      set_failure(failure, {unit.process_index, offset, unit.stream_index}, true, message);
      return false;
    }
    deliver(batch);
  }
  return true;
}

}  // namespace korva
