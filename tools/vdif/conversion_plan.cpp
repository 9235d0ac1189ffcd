#include "conversion_plan.h"

#include <algorithm>
#include <memory>
#include <set>

namespace korva::vdif {
namespace {

std::string list_text(const std::map<uint32_t, uint32_t>& threads) {
  std::string text;
  for (const auto& [id, ignored] : threads) text += (text.empty() ? "" : ",") + std::to_string(id);
  return text;
}

bool check_samples(const frame_signature& s, const mode& raw, std::string& error) {
  if (s.complex) {
    error = "korva_vdif: the recording holds complex samples; only real samples can be converted";
    return false;
  }
  if (s.bits_per_sample > 2) {
    error = "korva_vdif: the recording has " + std::to_string(s.bits_per_sample) +
            "-bit samples; raw files hold 1- or 2-bit samples";
    return false;
  }
  if (static_cast<int32_t>(s.bits_per_sample) != raw.bits) {
    error = "korva_vdif: the recording has " + std::to_string(s.bits_per_sample) +
            "-bit samples, the schedule's mode " + std::to_string(raw.bits) + "-bit samples";
    return false;
  }
  return true;
}

// Thread channels of the selection, in raw-channel order.
bool select_channels(const recording_survey& survey, uint32_t thread_channels, const channel_selection& selection,
                     int raw_channels, std::vector<thread_plan>& threads, std::string& error) {
  const std::string seen = "threads seen in the first seconds: " + list_text(survey.max_frame_number);
  int next_raw = 0;
  if (!selection.channels.empty()) {
    if (survey.max_frame_number.size() != 1) {
      error = "korva_vdif: --channels needs a single-thread recording (" + seen + "); use --threads";
      return false;
    }
    thread_plan plan{survey.max_frame_number.begin()->first, std::vector<int>(thread_channels, -1), 0};
    for (uint32_t c : selection.channels) {
      if (c >= thread_channels || plan.raw_channel[c] >= 0) {
        error = "korva_vdif: channel " + std::to_string(c) + " of --channels is " +
                (c >= thread_channels ? "not among the recording's " + std::to_string(thread_channels) + " channels (0.." +
                                            std::to_string(thread_channels - 1) + ")"
                                      : std::string("named twice"));
        return false;
      }
      plan.raw_channel[c] = next_raw++;
      ++plan.used_channels;
    }
    threads.push_back(plan);
  } else {
    std::vector<uint32_t> ids = selection.threads;
    if (ids.empty()) {
      for (const auto& [id, ignored] : survey.max_frame_number) ids.push_back(id);
    }
    std::set<uint32_t> named;
    for (uint32_t id : ids) {
      if (survey.max_frame_number.count(id) == 0) {
        error = "korva_vdif: thread " + std::to_string(id) + " does not appear in the recording (" + seen + ")";
        return false;
      }
      if (!named.insert(id).second) {
        error = "korva_vdif: thread " + std::to_string(id) + " is named twice in --threads";
        return false;
      }
      thread_plan plan{id, {}, static_cast<int>(thread_channels)};
      for (uint32_t c = 0; c < thread_channels; ++c) plan.raw_channel.push_back(next_raw++);
      threads.push_back(plan);
    }
  }
  if (next_raw != raw_channels) {
    error = "korva_vdif: the recording gives " + std::to_string(next_raw) + " channels (" +
            std::to_string(threads.size()) + " thread(s) of " + std::to_string(thread_channels) +
            " channel(s) selected), the schedule's mode has " + std::to_string(raw_channels);
    return false;
  }
  return true;
}

bool check_frame_rate(const recording_survey& survey, conversion_plan& plan, std::string& error) {
  const mode& raw = plan.raw;
  const size_t data_bytes = plan.signature.data_bytes();
  const uint64_t thread_bits = uint64_t(uint32_t(raw.sample_rate)) * uint32_t(raw.bits) * plan.thread_channels;
  const std::string rate = std::to_string(raw.sample_rate / 1e6) + " Msps";
  if (thread_bits % 8 != 0 || (thread_bits / 8) % data_bytes != 0) {
    error = "korva_vdif: frames of " + std::to_string(data_bytes) + " data bytes do not divide the " +
            std::to_string(thread_bits / 8.0) + " bytes per second of a thread at " + rate;
    return false;
  }
  plan.frames_per_second = static_cast<uint32_t>(thread_bits / 8 / data_bytes);
  const uint64_t raw_bits = uint64_t(data_bytes) * 8 * uint32_t(raw.channels) / plan.thread_channels;
  if (raw_bits % 32 != 0) {
    error = "korva_vdif: a frame of " + std::to_string(data_bytes) + " data bytes does not fill whole raw words";
    return false;
  }
  plan.words_per_frame = raw_bits / 32;
  plan.words_per_second = plan.words_per_frame * plan.frames_per_second;
  for (const thread_plan& t : plan.threads) {
    const uint32_t highest = survey.max_frame_number.at(t.thread_id);
    if (highest >= plan.frames_per_second) {
      error = "korva_vdif: thread " + std::to_string(t.thread_id) + " has frame number " + std::to_string(highest) +
              ", beyond the " + std::to_string(plan.frames_per_second) + " frames per second of " + rate +
              ": the recording's sample rate is higher than the schedule's";
      return false;
    }
    const auto whole = survey.max_frame_number_whole.find(t.thread_id);
    if (whole != survey.max_frame_number_whole.end() && whole->second + 1 < plan.frames_per_second) {
      error = "korva_vdif: thread " + std::to_string(t.thread_id) + " has " + std::to_string(whole->second + 1) +
              " frames per second, " + rate + " needs " + std::to_string(plan.frames_per_second) +
              ": the recording's sample rate is lower than the schedule's";
      return false;
    }
  }
  return true;
}

}  // namespace

bool survey_recording(const std::string& path, recording_survey& survey, std::string& error) {
  std::unique_ptr<frame_reader> reader = frame_reader::create(path, error);
  if (!reader) return false;
  struct thread_seconds {
    int64_t first = 0;
    std::map<int64_t, uint32_t> highest;  // by second
  };
  std::map<uint32_t, thread_seconds> threads;
  frame_view frame;
  bool any = false;
  while (reader->next(frame)) {
    const int64_t second = frame_utc(frame.header);
    if (!any) survey.first_second = survey.last_second = second;
    any = true;
    survey.first_second = std::min(survey.first_second, second);
    survey.last_second = std::max(survey.last_second, second);
    ++survey.frames;
    uint32_t& highest = survey.max_frame_number[frame.header.thread_id];
    highest = std::max(highest, frame.header.frame_number);
    uint32_t& in_second = threads[frame.header.thread_id].highest[second];
    in_second = std::max(in_second, frame.header.frame_number);
    if (survey.last_second - survey.first_second >= 3 || frame.offset >= survey_byte_limit) break;
    reader->release_before(frame.offset);
  }
  if (!any) {
    error = !reader->error().empty() ? reader->error() : "korva_vdif: [" + path + "] holds no whole VDIF frame";
    return false;
  }
  survey.signature = reader->signature();
  for (const auto& [id, t] : threads) {
    if (t.highest.size() < 3) continue;
    uint32_t whole = 0;
    for (auto s = std::next(t.highest.begin()); s != std::prev(t.highest.end()); ++s) whole = std::max(whole, s->second);
    survey.max_frame_number_whole[id] = whole;
  }
  return true;
}

bool make_plan(const recording_survey& survey, const mode& raw, const channel_selection& selection,
               conversion_plan& plan, std::string& error) {
  plan = conversion_plan{};
  plan.raw = raw;
  plan.signature = survey.signature;
  if (!check_samples(survey.signature, raw, error)) return false;
  plan.thread_channels = 1u << survey.signature.log2_channels;
  if (survey.signature.log2_channels > 5 || plan.thread_channels * survey.signature.bits_per_sample > 32 ||
      survey.signature.data_bytes() % 4 != 0) {
    error = "korva_vdif: frames of " + std::to_string(plan.thread_channels) + " channels of " +
            std::to_string(survey.signature.bits_per_sample) + "-bit samples cannot be converted";
    return false;
  }
  if (!select_channels(survey, plan.thread_channels, selection, raw.channels, plan.threads, error)) return false;
  return check_frame_rate(survey, plan, error);
}

}  // namespace korva::vdif
