#include "progress_meter.h"

#include <cstdio>

namespace korva::vdif {

progress_meter::progress_meter(bool enabled)
    : enabled_(enabled), start_(std::chrono::steady_clock::now()), last_(start_) {}

void progress_meter::update(int64_t seconds_written, int64_t seconds_total, uint64_t bytes_read) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (shown_ && now - last_ < std::chrono::milliseconds(250) && seconds_written < seconds_total) return;
  last_ = now;
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  const double rate = elapsed > 0 ? static_cast<double>(bytes_read) / elapsed / 1e6 : 0.0;
  std::fprintf(stderr, "\rkorva_vdif: %lld/%lld s written, %.1f MB/s read\033[K",
               static_cast<long long>(seconds_written), static_cast<long long>(seconds_total), rate);
  std::fflush(stderr);
  shown_ = true;
}

void progress_meter::clear() {
  if (!shown_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  shown_ = false;
}

}  // namespace korva::vdif
