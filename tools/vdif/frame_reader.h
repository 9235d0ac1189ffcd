// Reads the frames of one VDIF file in file order, whatever lies between
// them. The reader locks on to the frame format (signature) of the first
// header that a second header of the same format confirms one frame later,
// or on a format given by the caller; from then on it returns only frames of
// that format. Bytes that are not such frames (garbage, frames of another
// length, frames cut short by the next header) are skipped and counted; a
// frame is taken as cut short when no header follows it but one starts
// inside it. The file is mapped into memory, not copied: page tables are
// filled a window ahead of the cursor (a failing read then gives a message
// instead of a signal) and dropped behind it on request, so the memory in
// use stays at a few windows whatever the file size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "vdif_header.h"

namespace korva::vdif {

// The header fields that every frame of one stream shares.
struct frame_signature {
  bool legacy = false;
  uint32_t reference_epoch = 0;
  uint32_t version = 0;
  uint32_t log2_channels = 0;
  uint32_t length_units = 0;
  bool complex = false;
  uint32_t bits_per_sample = 0;
  uint32_t station_id = 0;

  size_t frame_bytes() const { return size_t{length_units} * 8; }
  size_t header_bytes() const { return legacy ? legacy_header_bytes : full_header_bytes; }
  size_t data_bytes() const { return frame_bytes() - header_bytes(); }
};

frame_signature signature_of(const frame_header& header);
bool matches(const frame_header& header, const frame_signature& signature);

// Largest frame the reader accepts, header included.
inline constexpr size_t max_frame_bytes = size_t{1} << 24;
// How far into a file the reader looks for its first frame before it gives up.
inline constexpr size_t max_lock_search_bytes = size_t{1} << 24;

struct frame_view {
  frame_header header;
  const uint8_t* data = nullptr;  // data array, valid until release_before() passes it or the reader ends
  size_t data_bytes = 0;
  uint64_t offset = 0;            // file offset of the header
};

struct reader_counts {
  uint64_t frames = 0;         // whole frames returned
  uint64_t truncated = 0;      // frames cut short (by another header or by the end of the file)
  uint64_t skipped_bytes = 0;  // bytes outside returned frames
  uint64_t skipped_runs = 0;   // places where bytes were skipped
};

class frame_reader {
 public:
  // Opens path for reading; nullptr with a one-line message when it cannot.
  static std::unique_ptr<frame_reader> create(const std::string& path, std::string& error);
  ~frame_reader();
  frame_reader(const frame_reader&) = delete;
  frame_reader& operator=(const frame_reader&) = delete;

  // Accept only frames of this format from now on.
  void lock(const frame_signature& signature);
  bool locked() const { return locked_; }
  const frame_signature& signature() const { return signature_; }

  // The next whole frame. False at the end of the file, when a read fails
  // (error() then holds a message) or when an unlocked reader finds no
  // frame within max_lock_search_bytes (error() says so).
  bool next(frame_view& frame);

  const reader_counts& counts() const { return counts_; }
  const std::string& error() const { return error_; }
  const std::string& path() const { return path_; }

  // Frame data before this file offset will not be used any more: the
  // reader may drop its pages from the mapping.
  void release_before(uint64_t offset);

 private:
  frame_reader(std::string path, const uint8_t* map, uint64_t size);
  size_t ensure(size_t bytes);  // bytes available from the cursor, mapped in as needed
  void populate(uint64_t until);
  bool header_at(size_t at, frame_header& header) const;
  bool confirmed_at(size_t at);
  bool plausible_start_at(size_t at, frame_header& header);
  bool find_lock();
  void resync(size_t first_candidate);
  void skip(size_t bytes);

  std::string path_;
  const uint8_t* map_;          // the whole file; nullptr when it is empty
  size_t begin_ = 0, end_ = 0;  // unread bytes: map_[begin_, end_), begin_ the file offset
  uint64_t size_ = 0;           // mapped length
  uint64_t populated_ = 0;      // page tables filled up to here
  uint64_t released_ = 0;       // pages dropped below here
  bool locked_ = false;
  frame_signature signature_;
  reader_counts counts_;
  std::string error_;
};

}  // namespace korva::vdif
