// The correlator: one UTC second of one process, every stream and parameter
// period, worker threads started and joined per period, averaged spectra
// handed to the record sink.
#include <pthread.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "correlation_worker.h"
#include "correlator.h"
#include "sample_decoders.h"
#include "earth_orientation.h"
#include "epoch_text.h"
#include "recording_mode.h"
#include "station_delay.h"

namespace korva {

// What the correlator owns.
struct correlator::state {
  state(const schedule_tables& tables, int32_t threads, working_memory buffers)
      : schedule(tables), thread_count(threads), memory(std::move(buffers)) {}

  const schedule_tables& schedule;
  int32_t thread_count;
  working_memory memory;
  phase_tables phases;
  fftwf_plan plans[max_threads][max_streams] = {};
  station_delay delays[max_stations] = {};  // the latest model of each station
  data_coverage coverage;
  // Earth orientation of the schedule's "$EOP" lines (the reader has checked
  // that they cover every second of every process), or none.
  earth_orientation_series eop_series{schedule.eop};
  const earth_orientation_series* eop = eop_series.has_span() ? &eop_series : nullptr;
  // The station-independent part of the model, kept while streams share
  // their source and second.
  delay_frame frame{};
  int32_t frame_source = -1;
  int32_t frame_epoch = 0;

  // The delay of every taking-part station for the source at second epoch.
  void compute_delays(const process_plan& plan, int32_t source_index, int32_t epoch);
};

void correlator::state::compute_delays(const process_plan& plan, int32_t source_index, int32_t epoch) {
  if (source_index != frame_source || epoch != frame_epoch) {
    const source_info& source = schedule.sources[source_index];
    frame = compute_delay_frame(source.ra, source.dec, epoch, eop);
    frame_source = source_index;
    frame_epoch = epoch;
  }
  for (int i = 0; i < max_stations; ++i) {
    if (!plan.takes_part[i]) continue;
    const station_info& station = schedule.stations[i];
    delays[i] = compute_station_delay(frame, station_position{station.x, station.y, station.z});
  }
}

namespace {

// Refuses a stream the worker cannot correlate safely: no decoder for the
// terminal mode, a channel outside it, an FFT size the decoders and kernels
// cannot cut into whole words and bin pairs, or a missing plan.
bool stream_is_correlatable(const schedule_tables& schedule, const fftwf_plan (&plans)[max_threads][max_streams],
                            int32_t stream_index, int32_t thread_count, message_buffer& message) {
  const terminal_info& terminal = schedule.terminal;
  const stream_info& stream = schedule.streams[stream_index];
  const field_text name(stream.name);
  switch (check_stream(terminal_mode(terminal), stream.channel, stream.fft_points)) {
    case stream_fault::none: break;
    case stream_fault::no_decoder:
      write_message(message, "correlate_second: No sample decoder for %d bit/%d ch [%s]", terminal.bits,
                    terminal.channels, name.text);
      return false;
    case stream_fault::sample_rate:
      write_message(message, "correlate_second: Unsupported sample rate %d [%s]", terminal.sample_rate, name.text);
      return false;
    case stream_fault::channel:
      write_message(message, "correlate_second: Channel %d outside the terminal's %d channels [%s]",
                    stream.channel, terminal.channels, name.text);
      return false;
    case stream_fault::fft_points:
      write_message(message, "correlate_second: FFT size %d is not a multiple of 4 and %d in 4..65536 [%s]",
                    stream.fft_points, samples_per_word(terminal.bits, terminal.channels), name.text);
      return false;
  }
  for (int k = 0; k < thread_count; ++k) {
    if (plans[k][stream_index] == nullptr) {
      write_message(message, "correlate_second: No FFT plan for thread %d [%s]", k, name.text);
      return false;
    }
  }
  return true;
}

bool thread_count_is_valid(int32_t thread_count, message_buffer& message) {
  if (thread_count >= 1 && thread_count <= max_threads) return true;
  write_message(message, "correlate_second: Thread count %d outside 1..%d", thread_count, max_threads);
  return false;
}

// Starts one worker per job in index order and joins them in index order.
// A thread that cannot be started fails the period after the started ones
// have been joined.
bool run_workers(correlation_job* jobs, int32_t thread_count, message_buffer& message) {
  pthread_t threads[max_threads];
  int started = 0;
  int failure = 0;
  for (; started < thread_count; ++started) {
    failure = pthread_create(&threads[started], nullptr, correlation_worker, &jobs[started]);
    if (failure != 0) break;
  }
  bool joined = true;
  for (int k = 0; k < started; ++k) joined = pthread_join(threads[k], nullptr) == 0 && joined;
  if (failure != 0) {
    write_message(message, "correlate_second: Can't start worker thread %d (%s)", started,
                  std::strerror(failure));
    return false;
  }
  if (!joined) {
    write_message(message, "correlate_second: Can't join the worker threads");
    return false;
  }
  return true;
}

// Mean of the contributing workers' spectra of pair (a, b), in slot 0. A
// worker that handled no segment holds no estimate and is left out.
void average_workers(working_memory& memory, const correlation_job* jobs, int32_t thread_count,
                     station_pair pair, int32_t floats) {
  float* sum = memory.baseline_spectrum[0][pair.first][pair.second];
  int contributors = jobs[0].segment_count > 0 ? 1 : 0;
  for (int k = 1; k < thread_count; ++k) {
    if (jobs[k].segment_count == 0) continue;
    ++contributors;
    const float* part = memory.baseline_spectrum[k][pair.first][pair.second];
    for (int32_t m = 0; m < floats; ++m) sum[m] += part[m];
  }
  if (contributors <= 1) return;  // one estimate (or none: slot 0 is then zero)
  const float divisor = static_cast<float>(contributors);
  for (int32_t m = 0; m < floats; ++m) sum[m] /= divisor;
}

// Adds the workers' segment counts of every taking-part station.
void count_coverage(const process_plan& plan, const correlation_job* jobs, int32_t thread_count, int32_t epoch,
                    data_coverage& coverage) {
  int64_t segments = 0;
  for (int k = 0; k < thread_count; ++k) segments += jobs[k].segment_count;
  for (int s = 0; s < max_stations; ++s) {
    if (!plan.takes_part[s]) continue;
    int64_t missing = 0;
    for (int k = 0; k < thread_count; ++k) missing += jobs[k].missing_segments[s];
    coverage.add(s, epoch, segments, missing);
  }
}

}  // namespace

correlator::correlator(const schedule_tables& schedule, int32_t thread_count, working_memory memory)
    : state_(new state{schedule, thread_count, std::move(memory)}) {}

correlator::~correlator() { destroy_plans(); }

int32_t correlator::make_plans(message_buffer& message) {
  state& s = *state_;
  const int streams = stream_count(s.schedule);
  const int threads = s.thread_count < s.memory.threads() ? s.thread_count : s.memory.threads();
  for (int t = 0; t < threads; ++t) {
    for (int k = 0; k < streams; ++k) {
      const stream_info& stream = s.schedule.streams[k];
      s.plans[t][k] = fftwf_plan_dft_r2c_1d(stream.fft_points, s.memory.sample_buffer[t],
                                            reinterpret_cast<fftwf_complex*>(s.memory.fft_buffer[t]),
                                            FFTW_ESTIMATE);
      if (s.plans[t][k] == nullptr) {
        write_message(message, "korva_corr : Can't make the FFT plan of stream[%.16s] with %d points",
                      stream.name, stream.fft_points);
        return -1;
      }
    }
  }
  return 1;
}

void correlator::destroy_plans() {
  for (auto& row : state_->plans) {
    for (fftwf_plan& plan : row) {
      if (plan != nullptr) fftwf_destroy_plan(plan);
      plan = nullptr;
    }
  }
}

namespace {

// One period: workers started and joined, their spectra averaged, one record
// per pair handed to the sink.
int32_t correlate_period(const period_inputs& inputs, const period_id& period, int32_t thread_count,
                         record_sink& sink, data_coverage& coverage, message_buffer& message) {
  sink.period_started(period);
  correlation_job jobs[max_threads];
  for (int k = 0; k < thread_count; ++k) {
    jobs[k] = correlation_job{period.epoch, period.process_index, period.stream_index, period.period_index, k,
                              thread_count, &inputs,      0,                    {}};
  }
  if (!run_workers(jobs, thread_count, message)) return -1;
  count_coverage(*inputs.plan, jobs, thread_count, period.epoch, coverage);
  const int32_t bins = inputs.schedule->streams[period.stream_index].fft_points / 2;
  const process_plan& plan = *inputs.plan;
  for (int p = 0; p < plan.pair_count; ++p) {
    const station_pair pair = plan.pairs[p];
    average_workers(*inputs.memory, jobs, thread_count, pair, 2 * bins);
    cor_record_header header{};
    set_period_times(header, period.epoch, period.period_index, period.pp_per_second);
    header.first = inputs.delays[pair.first];
    header.second = inputs.delays[pair.second];
    const float* spectrum = inputs.memory->baseline_spectrum[0][pair.first][pair.second];
    if (sink.write_record(period, pair, header, spectrum, bins, message) != 1) return -1;
  }
  return 1;
}

}  // namespace

int32_t correlator::correlate_second(const process_plan& plan, int32_t epoch, const raw_window_table& windows,
                                     record_sink& sink, message_buffer& message) {
  if (!thread_count_is_valid(state_->thread_count, message)) return -1;
  for (int32_t k = 0; k < plan.stream_count; ++k) {
    if (correlate_stream(plan, k, epoch, windows, sink, message) != 1) return -1;
  }
  sink.second_finished(epoch);
  return 1;
}

int32_t correlator::correlate_stream(const process_plan& plan, int32_t stream_index, int32_t epoch,
                                     const raw_window_table& windows, record_sink& sink, message_buffer& message) {
  state& s = *state_;
  if (!thread_count_is_valid(s.thread_count, message)) return -1;
  const int32_t source_index = plan.stream_source[stream_index];
  if (source_index < 0) {  // writes the lookup's message
    return find_stream_source(s.schedule, s.schedule.processes[plan.process_index],
                              s.schedule.streams[stream_index], message);
  }
  const stream_info& stream = s.schedule.streams[stream_index];
  s.compute_delays(plan, source_index, epoch);
  if (stream.pp_per_second <= 0) return 1;
  message_buffer refusal;
  if (!stream_is_correlatable(s.schedule, s.plans, stream_index, s.thread_count, refusal)) {
    message = refusal;
    return -1;
  }
  period_inputs inputs{&s.schedule, &plan, windows, s.delays, &s.phases, &s.memory, {}};
  for (int k = 0; k < s.thread_count; ++k) inputs.plans[k] = s.plans[k][stream_index];
  for (int32_t p = 0; p < stream.pp_per_second; ++p) {
    const period_id period{plan.process_index, epoch, stream_index, p, stream.pp_per_second};
    if (correlate_period(inputs, period, s.thread_count, sink, s.coverage, message) != 1) return -1;
  }
  return 1;
}

const data_coverage& correlator::coverage() const { return state_->coverage; }

void correlator::clear_coverage() { state_->coverage.clear(); }

void print_progress_line(std::FILE* out, const period_id& period) {
  std::fprintf(out, "KORVA_CORR [Information] : Process=%04d epoch=%s Stream=%d pp=%03d/%03d\r",
               period.process_index + 1, compact_epoch_text(period.epoch).text, period.stream_index + 1, period.period_index + 1,
               period.pp_per_second);
  std::fflush(out);
}

}  // namespace korva
