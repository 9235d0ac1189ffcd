// One whole conversion: the raw file of one station for one process of a
// schedule, from that station's VDIF recording (one or more files read in
// the order given).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "channel_interleaver.h"
#include "conversion_plan.h"
#include "frame_reader.h"
#include "second_assembler.h"

namespace korva::vdif {

struct conversion_options {
  std::string schedule_path;
  int32_t process_number = 1;  // 1-based
  std::string station_code;
  std::string raw_dir = ".";
  channel_selection selection;
  std::vector<std::string> files;
  std::string report_path;  // per-second valid fractions; empty: none
  bool progress = false;    // show progress on standard error
  interleave_method method = interleave_method::best;
};

struct conversion_result {
  std::string raw_path;
  int64_t first_second = 0;
  int32_t seconds = 0;
  assembly_counts assembly;
  reader_counts reading;  // summed over the files
  uint64_t bytes_read = 0;
  std::string summary;    // the closing line
};

// Converts; prints one line per second and the summary on out. False with a
// one-line "korva_vdif: ..." message; the raw file then does not exist.
bool convert_recording(const conversion_options& options, std::FILE* out, conversion_result& result,
                       std::string& error);

}  // namespace korva::vdif
