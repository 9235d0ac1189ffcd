// The simulator's raw files rewritten as VDIF recordings, so that the path
// from a recorder's VDIF file through korva_vdif to the correlator can be
// run end to end. Two layouts: one thread whose frames carry every channel
// (samples interleaved instant by instant), or one single-channel thread per
// channel (frames of the threads interleaved). Samples are moved one by one,
// straight from the definitions of both formats.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "raw_simulator.h"
#include "schedule.h"

namespace korva::sim {

enum class vdif_layout { channels, threads };

struct vdif_format {
  vdif_layout layout = vdif_layout::channels;
  int32_t frame_bytes = 0;  // header included; 0: 8032, or the largest below that fits the data rate
};

// Frame length in bytes (32-byte header included) for the terminal and
// layout: the requested one when it fits, else false with a message; with
// no request, 8032 bytes or the largest smaller length whose data array is
// a multiple of 8 bytes and divides the thread's bytes per second.
bool choose_frame_bytes(const terminal_info& terminal, const vdif_format& format, int32_t& frame_bytes,
                        std::string& error);

// Writes the VDIF recording of a raw file that starts at UTC second epoch.
// station_code gives the header's station ID (up to two characters).
bool write_vdif_from_raw(const std::string& raw_path, const std::string& vdif_path, const terminal_info& terminal,
                         int32_t epoch, const std::string& station_code, const vdif_format& format,
                         std::string& error);

// Replaces each simulated raw file of the process by "<name>.vdif" next to
// it and updates the list; false with a message.
bool rewrite_as_vdif(const schedule_tables& tables, int32_t process_number, const vdif_format& format,
                     std::vector<simulated_file>& written, std::string& error);

}  // namespace korva::sim
