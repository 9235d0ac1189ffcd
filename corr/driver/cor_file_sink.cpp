#include "cor_file_sink.h"

#include <cstring>

#include "epoch_text.h"
#include "run_signals.h"

namespace korva {

void cor_file_sink::period_started(const period_id& period) {
  period_open_ = true;
  print_progress_line(out_, period);
}

int32_t cor_file_sink::write_record(const period_id& period, const station_pair& pair,
                                    const cor_record_header& header, const float* spectrum, int32_t bins,
                                    message_buffer& message) {
  if (period_open_) {
    period_open_ = false;
    if (stop_requested(period, message)) return -1;
  }
  return korva_write_cor_record(files_, pair.first, pair.second, period.stream_index, header, spectrum, bins,
                                message);
}

// The newline keeps the last progress line of the second visible.
void cor_file_sink::second_finished(int32_t /*epoch*/) {
  std::fputc('\n', out_);
  std::fflush(out_);
}

bool cor_file_sink::stop_requested(const period_id& period, message_buffer& message) const {
  const epoch_text second = schedule_epoch_text(period.epoch);
  const field_text stream(tables_.streams[period.stream_index].name);
  const int station = shrunk_station();
  if (station >= 0) {
    write_message(message,
                  "korva_corr : The raw file of station[%.16s] shrank while it was read; stopped at Process[%04d] "
                  "%s stream[%s] period %d, every output file ends on a whole record",
                  tables_.stations[station].name, period.process_index + 1, second.text, stream.text,
                  period.period_index + 1);
    return true;
  }
  const int signal_number = stop_signal();
  if (signal_number == 0) return false;
  write_message(message,
                "korva_corr : Stopped by signal %s at Process[%04d] %s stream[%s] period %d, every output file "
                "ends on a whole record",
                sigabbrev_np(signal_number), period.process_index + 1, second.text, stream.text, period.period_index + 1);
  return true;
}

}  // namespace korva
