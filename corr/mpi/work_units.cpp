// Units of work in hand-out order, and the record batches that carry their
// results.
#include <cstring>

#include "mpi_job.h"

namespace korva {

int64_t process_seconds(const process_info& process) {
  const uint32_t first = static_cast<uint32_t>(process.epoch);
  const uint32_t end = first + static_cast<uint32_t>(process.length);
  return end > first ? int64_t{end} - first : 0;
}

unit_cursor::unit_cursor(const schedule_tables& tables, int32_t chunk_seconds)
    : tables_(tables),
      chunk_(chunk_seconds < 1 ? 1 : chunk_seconds),
      processes_(process_count(tables)),
      streams_(stream_count(tables)) {}

unit_cursor::kind unit_cursor::next_kind() const {
  if (process_ >= processes_) return kind::end;
  return started_ ? kind::unit : kind::process_start;
}

job_position unit_cursor::next_position() const {
  if (!started_) return {process_, -1, -1};
  return {process_, offset_, stream_};
}

int32_t unit_cursor::units_of_process(int32_t process) const {
  const int64_t chunks = (process_seconds(tables_.processes[process]) + chunk_ - 1) / chunk_;
  return static_cast<int32_t>(chunks * streams_);
}

void unit_cursor::take_process_start() {
  started_ = true;
  offset_ = 0;
  stream_ = 0;
  skip_empty();
}

// Past the end of a process with no (more) units: the next process's start.
void unit_cursor::skip_empty() {
  if (streams_ == 0 || offset_ >= process_seconds(tables_.processes[process_])) {
    ++process_;
    started_ = false;
  }
}

work_unit unit_cursor::take_unit() {
  const int64_t length = process_seconds(tables_.processes[process_]);
  const int64_t seconds = length - offset_ < chunk_ ? length - offset_ : chunk_;
  const work_unit unit{sequence_++, process_, stream_, offset_, seconds};
  if (++stream_ == streams_) {
    stream_ = 0;
    offset_ += seconds;
  }
  skip_empty();
  return unit;
}

namespace {

template <typename T>
void append_bytes(std::vector<unsigned char>& bytes, const T& value) {
  const auto* first = reinterpret_cast<const unsigned char*>(&value);
  bytes.insert(bytes.end(), first, first + sizeof value);
}

// Fixed part of a packed record: pair, period, bins, record header.
struct packed_record {
  station_pair pair;
  int32_t period_index;
  int32_t bins;
  cor_record_header header;
};

}  // namespace

void record_batch::reset(const work_unit& unit, int64_t offset) {
  bytes_.clear();
  append_bytes(bytes_, batch_header{unit.sequence, offset, unit.process_index, unit.stream_index, 0, 0, 0, {}});
}

void record_batch::set_coverage(const data_coverage& coverage) {
  auto* header = reinterpret_cast<batch_header*>(bytes_.data());
  header->segments = 0;
  for (int s = 0; s < max_stations; ++s) {
    const station_coverage& station = coverage.station[s];
    if (station.segments > header->segments) header->segments = station.segments;
    header->missing_segments[s] = station.missing_segments;
  }
}

void record_batch::append(const station_pair& pair, int32_t period_index, const cor_record_header& header,
                          const float* spectrum, int32_t bins) {
  const int32_t stored_bins = bins > 0 ? bins : 0;
  append_bytes(bytes_, packed_record{pair, period_index, stored_bins, header});
  const auto* first = reinterpret_cast<const unsigned char*>(spectrum);
  bytes_.insert(bytes_.end(), first, first + std::size_t{8} * stored_bins);
  reinterpret_cast<batch_header*>(bytes_.data())->record_count += 1;
}

const batch_header& record_batch::header() const { return *reinterpret_cast<const batch_header*>(bytes_.data()); }

job_position record_batch::position() const {
  const batch_header& h = header();
  return {h.process_index, h.offset, h.stream_index};
}

bool record_batch::read(std::vector<batch_record>& records) const {
  records.clear();
  if (bytes_.size() < sizeof(batch_header)) return false;
  std::size_t at = sizeof(batch_header);
  for (int32_t k = 0; k < header().record_count; ++k) {
    if (bytes_.size() - at < sizeof(packed_record)) return false;
    packed_record fixed;
    std::memcpy(&fixed, bytes_.data() + at, sizeof fixed);
    at += sizeof fixed;
    const std::size_t spectrum_bytes = std::size_t{8} * static_cast<uint32_t>(fixed.bins);
    if (fixed.bins < 0 || bytes_.size() - at < spectrum_bytes) return false;
    records.push_back(batch_record{fixed.pair, fixed.period_index, fixed.bins, fixed.header,
                                   reinterpret_cast<const float*>(bytes_.data() + at)});
    at += spectrum_bytes;
  }
  return at == bytes_.size();
}

}  // namespace korva
