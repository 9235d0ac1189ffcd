// The one-line result text that every step of the correlator writes for its
// caller. Success texts are never printed; on failure the run loop prints the
// buffer followed by a newline.
#pragma once

#include <cstddef>

namespace korva {

// Holds the longest message: a whole 255-character schedule line or path
// inside the longest message text, with room to spare.
inline constexpr std::size_t message_capacity = 1024;

struct message_buffer {
  char text[message_capacity] = {};
};

// Replaces the buffer's text by the printf-style formatted message (cut, never
// overflowed, at the buffer's capacity).
void write_message(message_buffer& buffer, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

}  // namespace korva
