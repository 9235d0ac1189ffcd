#include "cor_file_sink.h"

namespace korva {

void cor_file_sink::period_started(const period_id& period) { print_progress_line(out_, period); }

int32_t cor_file_sink::write_record(const period_id& period, const station_pair& pair,
                                    const cor_record_header& header, const float* spectrum, int32_t bins,
                                    message_buffer& message) {
  return korva_write_cor_record(files_, pair.first, pair.second, period.stream_index, header, spectrum, bins,
                                message);
}

// The newline keeps the last progress line of the second visible.
void cor_file_sink::second_finished(int32_t /*epoch*/) {
  std::fputc('\n', out_);
  std::fflush(out_);
}

}  // namespace korva
