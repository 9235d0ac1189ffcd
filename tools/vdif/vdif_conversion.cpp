#include "vdif_conversion.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <memory>

#include "epoch_text.h"
#include "raw_file.h"
#include "recording_mode.h"
#include "progress_meter.h"
#include "schedule.h"

namespace korva::vdif {
namespace {

static_assert(std::endian::native == std::endian::little, "raw words are written as they lie in memory");

std::string bounded(const char* text, size_t width) { return std::string(text, strnlen(text, width)); }

int find_station(const schedule_tables& tables, const std::string& code) {
  for (int i = 0; i < station_count(tables); ++i) {
    if (bounded(tables.codes[i].code, sizeof tables.codes[i].code) == code) return i;
  }
  return -1;
}

// Schedule, process and station; the raw-file path.
bool resolve_schedule(const conversion_options& options, mode& raw, process_info& process, std::string& station_name,
                      std::string& raw_path, std::string& error) {
  auto tables = std::make_unique<schedule_tables>();
  message_buffer message;
  if (korva_read_schedule(*tables, options.schedule_path.c_str(), message) != 1) {
    error = std::string("korva_vdif: ") + message.text;
    return false;
  }
  const terminal_info& t = tables->terminal;
  if (check_mode(terminal_mode(t)) != stream_fault::none) {
    error = "korva_vdif: the schedule's terminal mode " + std::to_string(t.sample_rate / 1000000) + "Msps/" +
            std::to_string(t.bits) + "bit/" + std::to_string(t.channels) +
            "ch is not a raw-file mode (1 or 2 bits; 1, 2, 4, 8 or 16 channels)";
    return false;
  }
  raw = mode{t.sample_rate, t.bits, t.channels};
  const int processes = process_count(*tables);
  if (options.process_number < 1 || options.process_number > processes) {
    error = "korva_vdif: process " + std::to_string(options.process_number) + " is not in the schedule (" +
            std::to_string(processes) + " processes)";
    return false;
  }
  process = tables->processes[options.process_number - 1];
  if (process.length <= 0) {
    error = "korva_vdif: process " + std::to_string(options.process_number) + " has no seconds";
    return false;
  }
  const int station = find_station(*tables, options.station_code);
  if (station < 0) {
    error = "korva_vdif: station code [" + options.station_code + "] is not in the schedule";
    return false;
  }
  if (!station_takes_part(*tables, process, station)) {
    error = "korva_vdif: station [" + options.station_code + "] does not take part in process " +
            std::to_string(options.process_number);
    return false;
  }
  station_name = bounded(tables->stations[station].name, sizeof tables->stations[station].name);
  char path[message_capacity];
  if (raw_file_path(path, sizeof path, options.raw_dir.c_str(), tables->stations[station], process.epoch) >
      raw_path_max_chars) {
    error = std::string("korva_vdif: the raw-file path [") + path + "] is longer than " +
            std::to_string(raw_path_max_chars) + " characters";
    return false;
  }
  raw_path = path;
  return true;
}

bool check_inputs(const conversion_options& options, std::string& error) {
  if (options.files.empty()) {
    error = "korva_vdif: no recording given";
    return false;
  }
  for (const std::string& path : options.files) {
    struct stat st {};
    errno = 0;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || ::access(path.c_str(), R_OK) != 0) {
      error = "korva_vdif: can't read the recording [" + path + "]" + (errno ? std::string(": ") + std::strerror(errno) : "");
      return false;
    }
  }
  struct stat dir {};
  if (::stat(options.raw_dir.c_str(), &dir) != 0 || !S_ISDIR(dir.st_mode)) {
    error = "korva_vdif: the raw directory [" + options.raw_dir + "] does not exist";
    return false;
  }
  return true;
}

// A raw file written under a temporary name and renamed when complete, so
// that no half-written file carries the name the correlator looks for.
class raw_output {
 public:
  raw_output(std::string path) : path_(std::move(path)), part_(path_ + ".part") {}
  ~raw_output() {
    if (file_ != nullptr) std::fclose(file_);
    if (!kept_) ::unlink(part_.c_str());
  }
  bool open(std::string& error) {
    file_ = std::fopen(part_.c_str(), "wb");
    if (file_ == nullptr) error = "korva_vdif: can't create [" + part_ + "]: " + std::strerror(errno);
    return file_ != nullptr;
  }
  bool write(const uint32_t* words, size_t count) { return std::fwrite(words, 4, count, file_) == count; }
  bool keep(std::string& error) {
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!closed || std::rename(part_.c_str(), path_.c_str()) != 0) {
      error = "korva_vdif: can't complete the raw file [" + path_ + "]: " + std::strerror(errno);
      return false;
    }
    kept_ = true;
    return true;
  }

 private:
  std::string path_, part_;
  std::FILE* file_ = nullptr;
  bool kept_ = false;
};

std::string summary_line(const conversion_result& r) {
  const assembly_counts& a = r.assembly;
  const double valid = a.total_samples ? double(a.valid_samples) / double(a.total_samples) : 0.0;
  char text[1024];
  std::snprintf(text, sizeof text,
                "korva_vdif: wrote %s: %d s from %s, valid %.6f; frames used %llu, filled %llu, invalid %llu, "
                "repeated %llu, late %llu, truncated %llu, bad frame number %llu, outside the process %llu, "
                "other threads %llu; %llu bytes skipped in %llu places",
                r.raw_path.c_str(), r.seconds, schedule_epoch_text(r.first_second).text, valid,
                (unsigned long long)a.frames_used, (unsigned long long)a.filled_frames, (unsigned long long)a.invalid,
                (unsigned long long)a.repeated, (unsigned long long)a.late, (unsigned long long)r.reading.truncated,
                (unsigned long long)a.bad_frame_number, (unsigned long long)a.outside,
                (unsigned long long)a.other_threads, (unsigned long long)r.reading.skipped_bytes,
                (unsigned long long)r.reading.skipped_runs);
  return text;
}

void add_counts(reader_counts& sum, const reader_counts& c) {
  sum.frames += c.frames;
  sum.truncated += c.truncated;
  sum.skipped_bytes += c.skipped_bytes;
  sum.skipped_runs += c.skipped_runs;
}

}  // namespace

bool convert_recording(const conversion_options& options, std::FILE* out, conversion_result& result,
                       std::string& error) {
  mode raw;
  process_info process{};
  std::string station_name;
  std::string raw_path;
  if (!resolve_schedule(options, raw, process, station_name, raw_path, error) || !check_inputs(options, error))
    return false;
  recording_survey survey;
  conversion_plan plan;
  if (!survey_recording(options.files.front(), survey, error) || !make_plan(survey, raw, options.selection, plan, error)) {
    return false;
  }
  result.first_second = process.epoch;
  result.seconds = process.length;
  result.raw_path = raw_path;

  std::unique_ptr<std::FILE, int (*)(std::FILE*)> report(nullptr, std::fclose);
  if (!options.report_path.empty()) {
    report.reset(std::fopen(options.report_path.c_str(), "w"));
    if (!report) {
      error = "korva_vdif: can't create the report [" + options.report_path + "]: " + std::strerror(errno);
      return false;
    }
  }
  raw_output output(result.raw_path);
  if (!output.open(error)) return false;

  progress_meter meter(options.progress);
  const fill_source fill(station_key(station_name), raw.bits);
  bool write_failed = false;
  auto sink = [&](int64_t second, const uint32_t* words, size_t count, double valid) {
    if (!output.write(words, count)) {
      write_failed = true;
      return false;
    }
    meter.clear();
    std::fprintf(out, "korva_vdif: %s %s valid %.6f\n", station_name.c_str(), schedule_epoch_text(second).text, valid);
    std::fflush(out);
    if (report) std::fprintf(report.get(), "%s %.6f\n", schedule_epoch_text(second).text, valid);
    meter.update(second + 1 - process.epoch, process.length, result.bytes_read);
    return true;
  };
  second_assembler assembler(plan, process.epoch, process.length, fill, sink, options.method);
  const int64_t end_second = int64_t{process.epoch} + process.length;
  bool past_end = false;

  for (const std::string& path : options.files) {
    std::unique_ptr<frame_reader> reader = frame_reader::create(path, error);
    if (!reader) return false;
    reader->lock(plan.signature);
    frame_view frame;
    const uint64_t base = result.bytes_read;
    while (!past_end && reader->next(frame)) {
      result.bytes_read = base + frame.offset + frame.data_bytes;
      if (!assembler.take(frame)) break;
      reader->release_before(std::min(frame.offset, assembler.pending_offset()));
      // Two seconds beyond the process nothing of it can follow any more.
      past_end = !frame.header.invalid && frame_utc(frame.header) >= end_second + 2;
    }
    assembler.flush();  // before the reader's data goes
    add_counts(result.reading, reader->counts());
    if (!reader->error().empty()) {
      error = reader->error();
      return false;
    }
    if (write_failed || past_end) break;
  }
  if (!write_failed) assembler.finish();
  meter.clear();
  if (write_failed) {
    error = "korva_vdif: writing the raw file [" + result.raw_path + "] failed: " + std::strerror(errno);
    return false;
  }
  result.assembly = assembler.counts();
  if (result.assembly.valid_samples == 0) {
    error = "korva_vdif: the recording holds no valid data for process " + std::to_string(options.process_number) +
            " (" + std::string(schedule_epoch_text(process.epoch).text) + ", " + std::to_string(process.length) + " s)";
    return false;
  }
  if (!output.keep(error)) return false;
  result.summary = summary_line(result);
  std::fprintf(out, "%s\n", result.summary.c_str());
  return true;
}

}  // namespace korva::vdif
