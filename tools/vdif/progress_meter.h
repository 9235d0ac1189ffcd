// A one-line progress display on a terminal (standard error): seconds
// written of the total and the input rate, redrawn at most four times a
// second. Silent when standard error is not a terminal.
#pragma once

#include <chrono>
#include <cstdint>

namespace korva::vdif {

class progress_meter {
 public:
  explicit progress_meter(bool enabled);
  void update(int64_t seconds_written, int64_t seconds_total, uint64_t bytes_read);
  void clear();  // erases the line before other output

 private:
  bool enabled_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_, last_;
};

}  // namespace korva::vdif
