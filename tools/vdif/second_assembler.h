// Builds the raw file second by second from frames that arrive roughly in
// time order. It holds one output second; frames of the next second that
// arrive before the current one is complete wait in a small hold (an eighth
// of a second of frames, at least 64). A second is written when a frame of a
// later second arrives and the current one is complete, the hold is full, or
// a frame two or more seconds later arrives; at the end every second of the
// process is written. Parts no valid frame supplied get fill codes.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "channel_interleaver.h"
#include "conversion_plan.h"
#include "fill_codes.h"
#include "frame_reader.h"

namespace korva::vdif {

struct assembly_counts {
  uint64_t frames_used = 0;
  uint64_t invalid = 0;           // marked invalid
  uint64_t repeated = 0;          // a frame of a slot already filled
  uint64_t late = 0;              // of a second already written
  uint64_t outside = 0;           // before or after the process
  uint64_t other_threads = 0;     // of threads not selected
  uint64_t bad_frame_number = 0;  // frame number beyond the second
  uint64_t filled_frames = 0;     // frame slots of written seconds given fill codes
  uint64_t valid_samples = 0;     // over all written seconds and channels
  uint64_t total_samples = 0;
};

// Receives each finished second: its UTC second, raw words and the fraction
// of its samples that came from valid frames. Returns false to stop.
using second_sink = std::function<bool(int64_t second, const uint32_t* words, size_t count, double valid_fraction)>;

class second_assembler {
 public:
  second_assembler(const conversion_plan& plan, int64_t first_second, int32_t length, const fill_source& fill,
                   second_sink sink, interleave_method method = interleave_method::best);

  // Takes one frame. False when the sink refused a second.
  bool take(const frame_view& frame);
  // Writes every second of the process not yet written. False when the sink refused.
  bool finish();

  const assembly_counts& counts() const { return counts_; }
  int64_t next_second() const { return current_; }

 private:
  bool advance();
  void place(size_t thread, uint32_t frame_number, const uint8_t* data);
  void hold(size_t thread, uint32_t frame_number, const uint8_t* data);
  bool complete() const { return valid_slots_ == slots_.size(); }

  const conversion_plan& plan_;
  int64_t first_second_, end_second_, current_;
  const fill_source& fill_;
  second_sink sink_;
  std::vector<channel_interleaver> interleavers_;  // per selected thread
  std::vector<int> thread_index_;                  // by thread ID: selected thread, or -1
  std::vector<uint32_t> words_;                    // the current second
  std::vector<uint8_t> slots_;                     // per thread and frame: 1 when valid
  size_t valid_slots_ = 0;
  std::vector<uint8_t> hold_data_;
  std::vector<std::pair<size_t, uint32_t>> held_;  // thread, frame number
  size_t hold_capacity_;
  assembly_counts counts_;
  bool stopped_ = false;
};

}  // namespace korva::vdif
