#include "epoch_text.h"

#include <ctime>

namespace korva::vdif {
namespace {

std::string format_utc(int64_t utc, const char* format) {
  const std::time_t t = static_cast<std::time_t>(utc);
  std::tm parts{};
  gmtime_r(&t, &parts);
  char text[64];
  std::strftime(text, sizeof text, format, &parts);
  return text;
}

}  // namespace

std::string epoch_text(int64_t utc) { return format_utc(utc, "%Y/%j %H:%M:%S"); }
std::string epoch_file_text(int64_t utc) { return format_utc(utc, "%Y%j%H%M%S"); }

}  // namespace korva::vdif
