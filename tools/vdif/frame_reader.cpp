#include "frame_reader.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifndef MADV_POPULATE_READ
#define MADV_POPULATE_READ 22  // Linux 5.14; older kernels answer EINVAL
#endif

namespace korva::vdif {
namespace {

// Page tables are filled and dropped in steps of this many bytes: large
// enough that the system calls cost nothing, small enough to stay in memory.
constexpr uint64_t window_bytes = uint64_t{16} << 20;
// How far the lock and resync searches go before they let bytes behind them
// go (their bookkeeping, not the mapping, is what this bounds).
constexpr size_t search_step_bytes = size_t{2} << 20;

uint64_t page_floor(uint64_t offset) {
  static const uint64_t page = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
  return offset / page * page;
}

}  // namespace

frame_signature signature_of(const frame_header& h) {
  frame_signature s;
  s.legacy = h.legacy;
  s.reference_epoch = h.reference_epoch;
  s.version = h.version;
  s.log2_channels = h.log2_channels;
  s.length_units = h.length_units;
  s.complex = h.complex;
  s.bits_per_sample = h.bits_per_sample;
  s.station_id = h.station_id;
  return s;
}

bool matches(const frame_header& h, const frame_signature& s) {
  return h.legacy == s.legacy && h.reference_epoch == s.reference_epoch && h.version == s.version &&
         h.log2_channels == s.log2_channels && h.length_units == s.length_units && h.complex == s.complex &&
         h.bits_per_sample == s.bits_per_sample && h.station_id == s.station_id;
}

std::unique_ptr<frame_reader> frame_reader::create(const std::string& path, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    error = "korva_vdif: can't open the recording [" + path + "]: " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return nullptr;
  }
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  void* map = nullptr;
  if (size > 0) {
    map = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) {
      error = "korva_vdif: can't map the recording [" + path + "] into memory: " + std::strerror(errno);
      ::close(fd);
      return nullptr;
    }
    ::madvise(map, size, MADV_SEQUENTIAL);
  }
  ::close(fd);  // the mapping keeps the file
  return std::unique_ptr<frame_reader>(new frame_reader(path, static_cast<const uint8_t*>(map), size));
}

frame_reader::frame_reader(std::string path, const uint8_t* map, uint64_t size)
    : path_(std::move(path)), map_(map), size_(size) {}

frame_reader::~frame_reader() {
  if (map_ != nullptr) ::munmap(const_cast<uint8_t*>(map_), size_);
}

void frame_reader::lock(const frame_signature& signature) {
  signature_ = signature;
  locked_ = true;
}

// Only populated bytes are touched: the cursor never gets past end_, and
// end_ grows with populate().
size_t frame_reader::ensure(size_t bytes) {
  if (end_ - begin_ < bytes && end_ < size_ && error_.empty()) populate(begin_ + bytes);
  return end_ - begin_;
}

// Fills the page tables up to at least until (a window at a time), so that
// a read error or a file cut short since it was opened shows here as an
// error code rather than as a signal on first access. Kernels without the
// populate request only get the read-ahead hint.
void frame_reader::populate(uint64_t until) {
  const uint64_t target = std::min(size_, std::max(until, populated_ + window_bytes));
  if (::madvise(const_cast<uint8_t*>(map_) + page_floor(populated_), target - page_floor(populated_),
                MADV_POPULATE_READ) != 0) {
    if (errno != EINVAL) {
      error_ = "korva_vdif: reading the recording [" + path_ + "] failed: " +
               (errno == EFAULT ? std::string("the file is shorter than when it was opened") : std::strerror(errno));
      return;  // nothing more is read: end_ stays
    }
    ::madvise(const_cast<uint8_t*>(map_) + page_floor(populated_), target - page_floor(populated_), MADV_WILLNEED);
  }
  populated_ = end_ = target;
}

void frame_reader::release_before(uint64_t offset) {
  const uint64_t until = page_floor(std::min<uint64_t>(offset, begin_));
  if (until < released_ + window_bytes) return;
  ::madvise(const_cast<uint8_t*>(map_) + released_, until - released_, MADV_DONTNEED);
  released_ = until;
}

bool frame_reader::header_at(size_t at, frame_header& header) const {
  return begin_ + at < end_ && decode_header(map_ + begin_ + at, end_ - begin_ - at, header);
}

// A header of the locked format at cursor + at, with another one a frame
// later, or with the end of the file before the next header would end.
bool frame_reader::confirmed_at(size_t at) {
  const size_t frame = signature_.frame_bytes(), header = signature_.header_bytes();
  const size_t available = ensure(at + frame + header);
  frame_header h;
  if (!header_at(at, h) || !matches(h, signature_)) return false;
  if (available < at + frame + header) return true;  // the file ends within the next header
  return header_at(at + frame, h) && matches(h, signature_);
}

// Without a lock: a header whose frame fits the reader, followed one frame
// later by a header of the same format or by the exact end of the file.
bool frame_reader::plausible_start_at(size_t at, frame_header& h) {
  if (ensure(at + full_header_bytes) < at + legacy_header_bytes || !header_at(at, h)) return false;
  const size_t frame = h.frame_bytes();
  if (h.data_bytes() == 0 || frame > max_frame_bytes || h.bits_per_sample > 32) return false;
  const size_t available = ensure(at + frame + h.header_bytes());
  if (available == at + frame) return true;
  frame_header next;
  return available >= at + frame + h.header_bytes() && header_at(at + frame, next) &&
         matches(next, signature_of(h));
}

bool frame_reader::find_lock() {
  for (size_t at = 0; counts_.skipped_bytes + at < max_lock_search_bytes; ++at) {
    if (ensure(at + legacy_header_bytes) < at + legacy_header_bytes) break;
    frame_header h;
    if (plausible_start_at(at, h)) {
      skip(at);
      lock(signature_of(h));
      return true;
    }
    // Keep the buffer bounded while searching: drop what was passed.
    if (at >= search_step_bytes) {
      skip(at);
      at = 0;
    }
  }
  if (error_.empty()) {
    error_ = "korva_vdif: [" + path_ + "] is not VDIF: no two consecutive frame headers of one format in its first " +
             std::to_string(max_lock_search_bytes >> 20) + " MiB";
  }
  return false;
}

void frame_reader::skip(size_t bytes) {
  if (bytes == 0) return;
  bytes = std::min(bytes, end_ - begin_);
  begin_ += bytes;
  counts_.skipped_bytes += bytes;
}

// Skips to the next confirmed header at or after cursor + first_candidate,
// or to the end of the file.
void frame_reader::resync(size_t first_candidate) {
  ++counts_.skipped_runs;
  size_t at = first_candidate;
  while (true) {
    const size_t available = ensure(at + legacy_header_bytes);
    if (available < at + signature_.header_bytes()) {
      skip(available);
      return;
    }
    if (confirmed_at(at)) {
      skip(at);
      return;
    }
    ++at;
    if (at >= search_step_bytes) {  // bounded search window
      skip(at);
      at = 0;
    }
  }
}

bool frame_reader::next(frame_view& frame) {
  if (!locked_ && !find_lock()) return false;
  const size_t length = signature_.frame_bytes(), header = signature_.header_bytes();
  while (true) {
    const size_t available = ensure(length + header);
    frame_header h;
    if (available < header) {
      if (available > 0) {
        ++counts_.skipped_runs;
        skip(available);
      }
      return false;
    }
    if (!header_at(0, h) || !matches(h, signature_)) {
      resync(1);
      continue;
    }
    if (available < length) {  // the file ends inside this frame
      ++counts_.truncated;
      ++counts_.skipped_runs;
      skip(available);
      return false;
    }
    frame_header following;
    if (available >= length + header && !(header_at(length, following) && matches(following, signature_))) {
      // Either garbage follows a whole frame, or this frame was cut short by
      // a header inside it.
      size_t inner = header;
      while (inner < length && !confirmed_at(inner)) ++inner;
      if (inner < length) {
        ++counts_.truncated;
        ++counts_.skipped_runs;
        skip(inner);
        continue;
      }
    }
    frame.header = h;
    frame.data = map_ + begin_ + header;
    frame.data_bytes = length - header;
    frame.offset = begin_;
    begin_ += length;
    ++counts_.frames;
    return true;
  }
}

}  // namespace korva::vdif
