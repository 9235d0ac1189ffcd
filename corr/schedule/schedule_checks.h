// Checks of a whole schedule, made once every line is read (lines come in any
// order): every process must be correlatable and write output files of its
// own. Internal to the schedule reader.
#pragma once

#include <cstdint>

#include "schedule.h"

namespace korva {

inline constexpr int schedule_line_capacity = 256;  // 255 characters and the NUL

// The schedule lines of the stored processes and streams, for quoting them.
using process_line_table = char[max_processes][schedule_line_capacity];
using stream_line_table = char[max_streams][schedule_line_capacity];

// Refuses the first process whose station text names no station of the
// table, whose source and stream sources are not in the source table, whose
// record count does not fit 32 bits, or whose output files another process
// (or the process itself) would write too. Returns 1, or -1 with the message.
int32_t check_processes(const schedule_tables& tables, const process_line_table& process_lines,
                        const stream_line_table& stream_lines, message_buffer& message);

}  // namespace korva
