// The record sink of korva_corr: records appended to the process's output
// files, with the progress line of every period on standard output. Before
// the first record of a period it honours a request to stop (a signal, a raw
// file that shrank): the period is dropped and the run ends with every file
// on a whole record.
#pragma once

#include <cstdio>

#include "cor_file.h"
#include "correlator.h"

namespace korva {

class cor_file_sink : public record_sink {
 public:
  // Writes into the files of the table (opened by korva_open_cor_file),
  // progress on out.
  cor_file_sink(const schedule_tables& tables, const cor_file_table& files, std::FILE* out)
      : tables_(tables), files_(files), out_(out) {}

  void period_started(const period_id& period) override;
  int32_t write_record(const period_id& period, const station_pair& pair, const cor_record_header& header,
                       const float* spectrum, int32_t bins, message_buffer& message) override;
  void second_finished(int32_t epoch) override;

 private:
  // Whether the run must stop before this period; writes why.
  bool stop_requested(const period_id& period, message_buffer& message) const;

  const schedule_tables& tables_;
  const cor_file_table& files_;
  std::FILE* out_;
  bool period_open_ = false;  // no record of the current period written yet
};

}  // namespace korva
