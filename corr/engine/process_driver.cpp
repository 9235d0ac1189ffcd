// The process driver: one UTC second of one process, every stream and
// parameter period, worker threads started and joined per period, averaged
// spectra appended to the output files.
#include <pthread.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "correlation.h"
#include "sample_decoders.h"

namespace korva {

namespace {

// Refuses a stream the worker cannot correlate safely: no decoder for the
// terminal mode, a channel outside it, an FFT size the decoders and kernels
// cannot cut into whole words and bin pairs, or a missing plan.
bool stream_is_correlatable(const correlation_context& context, int32_t stream_index,
                            int32_t thread_count, message_buffer& message) {
  const terminal_info& terminal = context.schedule->terminal;
  const stream_info& stream = context.schedule->streams[stream_index];
  const field_text name(stream.name);
  const int64_t bit_rate = int64_t{terminal.sample_rate} * terminal.bits * terminal.channels;
  if (select_sample_decoder(terminal.bits, terminal.channels) == nullptr) {
    write_message(message, "correlate_second: No sample decoder for %d bit/%d ch [%s]", terminal.bits,
                  terminal.channels, name.text);
    return false;
  }
  if (terminal.sample_rate <= 0 || bit_rate >= (int64_t{1} << 32) || bit_rate % 32 != 0) {
    write_message(message, "correlate_second: Unsupported sample rate %d [%s]", terminal.sample_rate,
                  name.text);
    return false;
  }
  if (stream.channel < 1 || stream.channel > terminal.channels) {
    write_message(message, "correlate_second: Channel %d outside the terminal's %d channels [%s]",
                  stream.channel, terminal.channels, name.text);
    return false;
  }
  const int32_t samples_per_word = 32 / (terminal.bits * terminal.channels);
  if (stream.fft_points < 4 || stream.fft_points > max_fft_points || stream.fft_points % 4 != 0 ||
      stream.fft_points % samples_per_word != 0) {
    write_message(message, "correlate_second: FFT size %d is not a multiple of 4 and %d in 4..65536 [%s]",
                  stream.fft_points, samples_per_word, name.text);
    return false;
  }
  for (int k = 0; k < thread_count; ++k) {
    if (context.plans->plan[k][stream_index] == nullptr) {
      write_message(message, "correlate_second: No FFT plan for thread %d [%s]", k, name.text);
      return false;
    }
  }
  return true;
}

void print_progress(int32_t process_index, int32_t epoch, int32_t stream_index, int32_t period,
                    int32_t pp_per_second) {
  std::time_t seconds = epoch;
  std::tm calendar{};
  gmtime_r(&seconds, &calendar);
  char text[32];
  std::strftime(text, sizeof text, "%Y%j%H%M%S", &calendar);
  std::printf("KORVA_CORR [Information] : Process=%04d epoch=%s Stream=%d pp=%03d/%03d\r", process_index + 1,
              text, stream_index + 1, period + 1, pp_per_second);
  std::fflush(stdout);
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
void average_workers(working_memory& memory, const correlation_job* jobs, int32_t thread_count, int a,
                     int b, int32_t floats) {
  float* sum = memory.baseline_spectrum[0][a][b];
  int contributors = jobs[0].segment_count > 0 ? 1 : 0;
  for (int k = 1; k < thread_count; ++k) {
    if (jobs[k].segment_count == 0) continue;
    ++contributors;
    const float* part = memory.baseline_spectrum[k][a][b];
    for (int32_t m = 0; m < floats; ++m) sum[m] += part[m];
  }
  if (contributors <= 1) return;  // one estimate (or none: slot 0 is then zero)
  const float divisor = static_cast<float>(contributors);
  for (int32_t m = 0; m < floats; ++m) sum[m] /= divisor;
}

// Averages and writes one record per pair with an output file.
int32_t write_period(correlation_context& context, const correlation_job* jobs, int32_t thread_count,
                     int32_t epoch, int32_t stream_index, int32_t period, message_buffer& message) {
  const stream_info& stream = context.schedule->streams[stream_index];
  const int32_t bins = stream.fft_points / 2;
  const cor_file_table& files = *context.files;
  for (int a = 0; a < max_stations; ++a) {
    for (int b = a; b < max_stations; ++b) {
      if (files.file[a][b][stream_index] == nullptr) continue;
      average_workers(*context.memory, jobs, thread_count, a, b, 2 * bins);
      cor_record_header header{};
      set_period_times(header, epoch, period, stream.pp_per_second);
      header.first = context.station_delay_table[a];
      header.second = context.station_delay_table[b];
      if (korva_write_cor_record(files, a, b, stream_index, header, context.memory->baseline_spectrum[0][a][b],
                                 bins, message) != 1) {
        return -1;
      }
    }
  }
  return 1;
}

}  // namespace

int32_t correlate_second(correlation_context& context, int32_t process_index, int32_t epoch,
                         int32_t thread_count, message_buffer& message) {
  if (thread_count < 1 || thread_count > max_threads) {
    write_message(message, "correlate_second: Thread count %d outside 1..%d", thread_count, max_threads);
    return -1;
  }
  const schedule_tables& schedule = *context.schedule;
  const process_info& process = schedule.processes[process_index];
  const int streams = stream_count(schedule);
  int32_t frame_source = -1;  // the source the frame below holds for
  delay_frame frame{};
  // Earth orientation of the schedule's "$EOP" lines; the reader has checked
  // that they cover every second of every process.
  const earth_orientation_series eop_series(schedule.eop);
  const earth_orientation_series* eop = eop_series.has_span() ? &eop_series : nullptr;
  for (int32_t s = 0; s < streams; ++s) {
    const stream_info& stream = schedule.streams[s];
    const int32_t source = find_stream_source(schedule, process, stream, message);
    if (source < 0) return -1;
    if (source != frame_source) {
      frame = compute_delay_frame(schedule.sources[source].ra, schedule.sources[source].dec, epoch, eop);
      frame_source = source;
    }
    for (int i = 0; i < max_stations; ++i) {
      if (context.windows[i].base == nullptr) continue;
      const station_info& station = schedule.stations[i];
      context.station_delay_table[i] = compute_station_delay(frame, station_position{station.x, station.y, station.z});
    }
    if (stream.pp_per_second <= 0) continue;
    message_buffer refusal;
    if (!stream_is_correlatable(context, s, thread_count, refusal)) {
      message = refusal;
      return -1;
    }
    for (int32_t p = 0; p < stream.pp_per_second; ++p) {
      print_progress(process_index, epoch, s, p, stream.pp_per_second);
      correlation_job jobs[max_threads];
      for (int k = 0; k < thread_count; ++k) {
        jobs[k] = correlation_job{epoch, process_index, s, p, k, thread_count, &context, 0};
      }
      if (!run_workers(jobs, thread_count, message)) return -1;
      if (write_period(context, jobs, thread_count, epoch, s, p, message) != 1) return -1;
    }
  }
  std::putchar('\n');
  std::fflush(stdout);
  return 1;
}

}  // namespace korva
