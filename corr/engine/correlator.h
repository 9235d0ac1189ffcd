// The correlation engine's interface. A correlator owns what correlating
// needs (the worker threads' buffers, their FFT plans, the phase tables and
// the latest delay model of every station) and correlates one second of a
// process, or one stream of it, from raw windows handed to it, delivering
// one record per station pair and parameter period to a record sink.
#pragma once

#include <cstdint>
#include <memory>

#include "cor_file.h"
#include "data_coverage.h"
#include "message_buffer.h"
#include "process_plan.h"
#include "raw_file.h"
#include "schedule.h"
#include "working_memory.h"

namespace korva {

// One parameter period of one stream of one second of a process.
struct period_id {
  int32_t process_index;
  int32_t epoch;
  int32_t stream_index;
  int32_t period_index;
  int32_t pp_per_second;
};

// Where the records go: the output files, a test's memory, a network peer.
class record_sink {
 public:
  virtual ~record_sink() = default;
  // Before the workers of a period start.
  virtual void period_started(const period_id& period) { (void)period; }
  // One averaged record: the header and bins complex values. Returns 1, or
  // -1 with the message in the buffer, which ends the second.
  virtual int32_t write_record(const period_id& period, const station_pair& pair,
                               const cor_record_header& header, const float* spectrum, int32_t bins,
                               message_buffer& message) = 0;
  // After the last stream of a second correlated by correlate_second.
  virtual void second_finished(int32_t epoch) { (void)epoch; }
};

class correlator {
 public:
  // Correlates with thread_count workers (1..8), each using its row of the
  // memory; the schedule must outlive the correlator.
  correlator(const schedule_tables& schedule, int32_t thread_count, working_memory memory);
  ~correlator();
  correlator(const correlator&) = delete;
  correlator& operator=(const correlator&) = delete;

  // One real-to-complex plan per thread and stream, made without trial
  // transforms. Returns 1, or -1 naming the stream whose plan failed.
  int32_t make_plans(message_buffer& message);
  void destroy_plans();

  // Every stream of UTC second epoch of the plan's process, then the sink's
  // second_finished. Returns 1, or -1 with the message in the buffer (source
  // not found, stream not correlatable, a worker that cannot be started, a
  // failed write).
  int32_t correlate_second(const process_plan& plan, int32_t epoch, const raw_window_table& windows,
                           record_sink& sink, message_buffer& message);

  // The segments correlated and found missing per station since the last
  // clear_coverage (a correlator starts clear).
  const data_coverage& coverage() const;
  void clear_coverage();

  // Stream stream_index only, from the source the plan resolved for it: the
  // delays of every taking-part station, then every period of the stream.
  int32_t correlate_stream(const process_plan& plan, int32_t stream_index, int32_t epoch,
                           const raw_window_table& windows, record_sink& sink, message_buffer& message);

 private:
  struct state;
  std::unique_ptr<state> state_;
};

// The progress line of a period on out, ending in a carriage return so that
// successive lines overwrite one another on a terminal; flushed.
void print_progress_line(std::FILE* out, const period_id& period);

}  // namespace korva
