// Builds the raw file second by second from frames that arrive roughly in
// time order. It holds one output second; frames of the next second that
// arrive before the current one is complete wait in a small hold (an eighth
// of a second of frames, at least 64). A second is written when a frame of a
// later second arrives and the current one is complete, the hold is full, or
// a frame two or more seconds later arrives; at the end every second of the
// process is written. Parts no valid frame supplied get fill codes.
//
// When every selected thread gives one raw channel, the frames of one frame
// number are gathered from all threads (a few frame numbers may be open at
// once) and interleaved in one pass when the last one arrives; frame numbers
// that do not complete are interleaved thread by thread when they leave the
// gathering, which gives the same words. Gathered frames are not copied: the
// caller keeps their data valid from pending_offset() on, and until flush().
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <functional>
#include <limits>
#include <optional>
#include <vector>

#include "channel_interleaver.h"
#include "conversion_plan.h"
#include "fill_codes.h"
#include "frame_reader.h"
#include "thread_transposer.h"

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
  static constexpr size_t max_group_threads = 16;

  second_assembler(const conversion_plan& plan, int64_t first_second, int32_t length, const fill_source& fill,
                   second_sink sink, interleave_method method = interleave_method::best);

  // Takes one frame. False when the sink refused a second.
  bool take(const frame_view& frame);
  // Writes every second of the process not yet written. False when the sink refused.
  bool finish();
  // Interleaves the gathered frames; their data is not used afterwards.
  void flush();
  // The lowest file offset of a gathered frame, or the largest value when none is.
  uint64_t pending_offset() const;

  const assembly_counts& counts() const { return counts_; }
  int64_t next_second() const { return current_; }

 private:
  // The frames of one frame number gathered so far, by selected thread.
  struct frame_group {
    uint32_t frame_number = 0;
    uint64_t offset = 0;  // of the first frame
    size_t present = 0;
    const uint8_t* data[max_group_threads] = {};
  };
  static constexpr size_t max_open_groups = 4;

  bool advance();
  bool claim(size_t thread, uint32_t frame_number);
  void place(size_t thread, uint32_t frame_number, const uint8_t* data);
  void gather(size_t thread, uint32_t frame_number, const uint8_t* data, uint64_t offset);
  void write_group(const frame_group& group);
  void write_thread(size_t thread, uint32_t frame_number, const uint8_t* data);
  void hold(size_t thread, uint32_t frame_number, const uint8_t* data);
  bool complete() const { return valid_slots_ == slots_.size(); }

  const conversion_plan& plan_;
  int64_t first_second_, end_second_, current_;
  const fill_source& fill_;
  second_sink sink_;
  std::vector<channel_interleaver> interleavers_;  // per selected thread
  std::optional<thread_transposer> transposer_;    // when frames are gathered
  std::vector<frame_group> groups_;                // open, oldest first
  std::vector<int> thread_index_;                  // by thread ID: selected thread, or -1
  // The current second. Zeroed by calloc, which for a second's size takes
  // fresh pages the system has zeroed already: no pass that is then overwritten.
  struct free_words {
    void operator()(uint32_t* words) const { std::free(words); }
  };
  std::unique_ptr<uint32_t[], free_words> words_;
  std::vector<uint8_t> slots_;                     // per thread and frame: 1 when valid
  size_t valid_slots_ = 0;
  std::vector<uint8_t> hold_data_;
  std::vector<std::pair<size_t, uint32_t>> held_;  // thread, frame number
  size_t hold_capacity_;
  assembly_counts counts_;
  bool stopped_ = false;
};

}  // namespace korva::vdif
