#include "message_buffer.h"

#include <cstdarg>
#include <cstdio>

namespace korva {

void write_message(message_buffer& buffer, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer.text, sizeof buffer.text, format, args);
  va_end(args);
}

}  // namespace korva
