#include "second_assembler.h"

#include <algorithm>
#include <cstring>
#include <new>

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
      words_(static_cast<uint32_t*>(std::calloc(std::max<size_t>(plan.words_per_second, 1), sizeof(uint32_t)))),
      slots_(plan.threads.size() * plan.frames_per_second, 0) {
  for (size_t t = 0; t < plan.threads.size(); ++t) {
    interleavers_.emplace_back(plan.raw.bits, static_cast<int>(plan.thread_channels), plan.raw.channels,
                               plan.threads[t].raw_channel, method);
    thread_index_[plan.threads[t].thread_id] = static_cast<int>(t);
  }
  if (words_ == nullptr) throw std::bad_alloc();
  hold_capacity_ = std::max<size_t>(64, slots_.size() / 8);
  const bool single_channel_threads = plan.thread_channels == 1 && plan.threads.size() == size_t(plan.raw.channels);
  if (method == interleave_method::best && single_channel_threads && plan.threads.size() > 1 &&
      plan.threads.size() <= max_group_threads) {
    transposer_.emplace(plan.raw.channels);
    groups_.reserve(max_open_groups);
  }
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
  if (transposer_) {
    gather(thread, h.frame_number, frame.data, frame.offset);
  } else {
    place(thread, h.frame_number, frame.data);
  }
  return true;
}

// Marks the thread's frame of this frame number as supplied; false (and
// counted) when it already was.
bool second_assembler::claim(size_t thread, uint32_t frame_number) {
  uint8_t& slot = slots_[thread * plan_.frames_per_second + frame_number];
  if (slot) {
    ++counts_.repeated;
    return false;
  }
  slot = 1;
  ++valid_slots_;
  ++counts_.frames_used;
  return true;
}

void second_assembler::place(size_t thread, uint32_t frame_number, const uint8_t* data) {
  if (claim(thread, frame_number)) write_thread(thread, frame_number, data);
}

void second_assembler::write_thread(size_t thread, uint32_t frame_number, const uint8_t* data) {
  interleavers_[thread].convert(data, plan_.signature.data_bytes(), words_.get() + frame_number * plan_.words_per_frame);
}

void second_assembler::gather(size_t thread, uint32_t frame_number, const uint8_t* data, uint64_t offset) {
  if (!claim(thread, frame_number)) return;
  auto group = std::find_if(groups_.begin(), groups_.end(),
                            [&](const frame_group& g) { return g.frame_number == frame_number; });
  if (group == groups_.end()) {
    if (groups_.size() == max_open_groups) {
      write_group(groups_.front());
      groups_.erase(groups_.begin());
    }
    groups_.push_back(frame_group{frame_number, offset, 0, {}});
    group = std::prev(groups_.end());
  }
  group->data[thread] = data;
  if (++group->present < plan_.threads.size()) return;
  write_group(*group);
  groups_.erase(group);
}

// All threads present: one transpose over the frame's words, every bit
// written. Otherwise thread by thread, each into its own bits.
void second_assembler::write_group(const frame_group& group) {
  if (group.present == plan_.threads.size()) {
    const uint8_t* rows[max_group_threads];
    for (size_t t = 0; t < plan_.threads.size(); ++t) rows[plan_.threads[t].raw_channel[0]] = group.data[t];
    transposer_->transpose(rows, plan_.signature.data_bytes(),
                           words_.get() + group.frame_number * plan_.words_per_frame);
    return;
  }
  for (size_t t = 0; t < plan_.threads.size(); ++t) {
    if (group.data[t] != nullptr) write_thread(t, group.frame_number, group.data[t]);
  }
}

void second_assembler::flush() {
  for (const frame_group& group : groups_) write_group(group);
  groups_.clear();
}

uint64_t second_assembler::pending_offset() const {
  uint64_t lowest = std::numeric_limits<uint64_t>::max();
  for (const frame_group& group : groups_) lowest = std::min(lowest, group.offset);
  return lowest;
}

void second_assembler::hold(size_t thread, uint32_t frame_number, const uint8_t* data) {
  const size_t bytes = plan_.signature.data_bytes();
  hold_data_.insert(hold_data_.end(), data, data + bytes);
  held_.emplace_back(thread, frame_number);
}

// Fills the missing slots, hands the second to the sink, and starts the next
// one with the held frames.
bool second_assembler::advance() {
  flush();
  const uint32_t frames = plan_.frames_per_second;
  uint64_t valid_channel_frames = 0;
  for (size_t t = 0; t < plan_.threads.size(); ++t) {
    for (uint32_t f = 0; f < frames; ++f) {
      if (slots_[t * frames + f]) {
        valid_channel_frames += static_cast<uint64_t>(plan_.threads[t].used_channels);
        continue;
      }
      ++counts_.filled_frames;
      fill_.fill(current_, (uint64_t{t} << 32) | f, words_.get() + f * plan_.words_per_frame, plan_.words_per_frame,
                 interleavers_[t].mask());
    }
  }
  const uint64_t samples_per_channel_frame = uint64_t{plan_.words_per_second} * 32 /
                                             (uint64_t(plan_.raw.bits) * uint64_t(plan_.raw.channels)) / frames;
  const uint64_t valid = valid_channel_frames * samples_per_channel_frame;
  const uint64_t total = uint64_t{plan_.words_per_second} * 32 / uint64_t(plan_.raw.bits);
  counts_.valid_samples += valid;
  counts_.total_samples += total;
  if (!sink_(current_, words_.get(), plan_.words_per_second, static_cast<double>(valid) / static_cast<double>(total))) {
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
