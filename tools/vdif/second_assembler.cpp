#include "second_assembler.h"

#include <algorithm>
#include <cstring>

namespace korva::vdif {

second_assembler::second_assembler(const conversion_plan& plan, int64_t first_second, int32_t length,
                                   const fill_source& fill, second_sink sink, interleave_method method)
    : plan_(plan),
      first_second_(first_second),
      end_second_(first_second + std::max(length, 0)),
      current_(first_second),
      fill_(fill),
      sink_(std::move(sink)),
      thread_index_(1024, -1),
      words_(plan.words_per_second),
      slots_(plan.threads.size() * plan.frames_per_second, 0) {
  for (size_t t = 0; t < plan.threads.size(); ++t) {
    interleavers_.emplace_back(plan.raw.bits, static_cast<int>(plan.thread_channels), plan.raw.channels,
                               plan.threads[t].raw_channel, method);
    thread_index_[plan.threads[t].thread_id] = static_cast<int>(t);
  }
  hold_capacity_ = std::max<size_t>(64, slots_.size() / 8);
}

bool second_assembler::take(const frame_view& frame) {
  if (stopped_) return false;
  const frame_header& h = frame.header;
  const int index = thread_index_[h.thread_id & 1023];
  if (index < 0) {
    ++counts_.other_threads;
    return true;
  }
  if (h.invalid) {
    ++counts_.invalid;
    return true;
  }
  if (h.frame_number >= plan_.frames_per_second) {
    ++counts_.bad_frame_number;
    return true;
  }
  const int64_t second = frame_utc(h);
  if (second < first_second_ || second >= end_second_) {
    ++counts_.outside;
    return true;
  }
  if (second < current_) {
    ++counts_.late;
    return true;
  }
  const size_t thread = static_cast<size_t>(index);
  if (second == current_ + 1 && !complete() && held_.size() < hold_capacity_) {
    hold(thread, h.frame_number, frame.data);
    return true;
  }
  while (current_ < second) {
    if (!advance()) return false;
  }
  place(thread, h.frame_number, frame.data);
  return true;
}

void second_assembler::place(size_t thread, uint32_t frame_number, const uint8_t* data) {
  uint8_t& slot = slots_[thread * plan_.frames_per_second + frame_number];
  if (slot) {
    ++counts_.repeated;
    return;
  }
  slot = 1;
  ++valid_slots_;
  ++counts_.frames_used;
  interleavers_[thread].convert(data, plan_.signature.data_bytes(), words_.data() + frame_number * plan_.words_per_frame);
}

void second_assembler::hold(size_t thread, uint32_t frame_number, const uint8_t* data) {
  const size_t bytes = plan_.signature.data_bytes();
  hold_data_.insert(hold_data_.end(), data, data + bytes);
  held_.emplace_back(thread, frame_number);
}

// Fills the missing slots, hands the second to the sink, and starts the next
// one with the held frames.
bool second_assembler::advance() {
  const uint32_t frames = plan_.frames_per_second;
  uint64_t valid_channel_frames = 0;
  for (size_t t = 0; t < plan_.threads.size(); ++t) {
    for (uint32_t f = 0; f < frames; ++f) {
      if (slots_[t * frames + f]) {
        valid_channel_frames += static_cast<uint64_t>(plan_.threads[t].used_channels);
        continue;
      }
      ++counts_.filled_frames;
      fill_.fill(current_, (uint64_t{t} << 32) | f, words_.data() + f * plan_.words_per_frame, plan_.words_per_frame,
                 interleavers_[t].mask());
    }
  }
  const uint64_t samples_per_channel_frame = uint64_t{plan_.words_per_second} * 32 /
                                             (uint64_t(plan_.raw.bits) * uint64_t(plan_.raw.channels)) / frames;
  const uint64_t valid = valid_channel_frames * samples_per_channel_frame;
  const uint64_t total = uint64_t{plan_.words_per_second} * 32 / uint64_t(plan_.raw.bits);
  counts_.valid_samples += valid;
  counts_.total_samples += total;
  if (!sink_(current_, words_.data(), words_.size(), static_cast<double>(valid) / static_cast<double>(total))) {
    stopped_ = true;
    return false;
  }
  ++current_;
  std::fill(slots_.begin(), slots_.end(), 0);
  valid_slots_ = 0;
  const size_t bytes = plan_.signature.data_bytes();
  for (size_t i = 0; i < held_.size(); ++i) place(held_[i].first, held_[i].second, hold_data_.data() + i * bytes);
  held_.clear();
  hold_data_.clear();
  return true;
}

bool second_assembler::finish() {
  if (stopped_) return false;
  while (current_ < end_second_) {
    if (!advance()) return false;
  }
  return true;
}

}  // namespace korva::vdif
