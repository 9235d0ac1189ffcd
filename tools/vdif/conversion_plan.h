// What a recording holds (from its first seconds) and how it becomes the raw
// file of a terminal mode: which threads and channels give raw channels
// 1..M, how many frames make a second, how many raw words a frame fills.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "frame_reader.h"

namespace korva::vdif {

// The first seconds of a recording.
struct recording_survey {
  frame_signature signature;
  std::map<uint32_t, uint32_t> max_frame_number;  // by thread ID, over all frames read
  // Largest frame number per thread within seconds that have frames of the
  // thread both before and after them (whole seconds); absent when none.
  std::map<uint32_t, uint32_t> max_frame_number_whole;
  int64_t first_second = 0, last_second = 0;  // UTC
  uint64_t frames = 0;
};

// Reads frames of the file from its start until three seconds have been
// seen or survey_byte_limit bytes read. False with a one-line message when
// the file holds no frame.
inline constexpr uint64_t survey_byte_limit = uint64_t{256} << 20;
bool survey_recording(const std::string& path, recording_survey& survey, std::string& error);

struct mode {
  int32_t sample_rate = 0;  // per channel
  int32_t bits = 0;
  int32_t channels = 0;
};

// Which VDIF data become raw channels 1..M, in order: whole threads (their
// channels in order), or channels of a single-thread recording. Both empty:
// every thread in ascending ID order.
struct channel_selection {
  std::vector<uint32_t> threads;
  std::vector<uint32_t> channels;
};

struct thread_plan {
  uint32_t thread_id = 0;
  std::vector<int> raw_channel;  // per channel of the thread: raw channel 0..M-1, or -1
  int used_channels = 0;
};

struct conversion_plan {
  mode raw;
  frame_signature signature;
  uint32_t thread_channels = 0;     // channels per frame
  uint32_t frames_per_second = 0;   // per thread
  size_t words_per_frame = 0;       // raw words one frame fills
  size_t words_per_second = 0;      // raw words of one second
  std::vector<thread_plan> threads;
};

// Checks the recording against the mode and builds the plan; false with a
// one-line message naming what does not fit.
bool make_plan(const recording_survey& survey, const mode& raw, const channel_selection& selection,
               conversion_plan& plan, std::string& error);

}  // namespace korva::vdif
