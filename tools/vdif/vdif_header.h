// VDIF frame headers: decoding, encoding and the reference-epoch calendar.
//
// All header words are 32-bit little-endian. Word 0: bit 31 invalid data,
// bit 30 legacy (16-byte) header, bits 29-0 seconds since the reference
// epoch. Word 1: bits 29-24 reference epoch (half years since 2000), bits
// 23-0 frame number within the second. Word 2: bits 31-29 version, bits
// 28-24 log2 of the channels per frame, bits 23-0 frame length in units of
// 8 bytes, header included. Word 3: bit 31 complex data, bits 30-26 bits per
// sample minus 1, bits 25-16 thread ID, bits 15-0 station ID.
#pragma once

#include <cstddef>
#include <cstdint>

namespace korva::vdif {

inline constexpr size_t full_header_bytes = 32;
inline constexpr size_t legacy_header_bytes = 16;

struct frame_header {
  bool invalid = false;
  bool legacy = false;
  uint32_t seconds = 0;         // since the reference epoch, 30 bits
  uint32_t reference_epoch = 0; // half years since 2000-01-01, 6 bits
  uint32_t frame_number = 0;    // within the second, 24 bits
  uint32_t version = 0;         // 3 bits
  uint32_t log2_channels = 0;   // 5 bits
  uint32_t length_units = 0;    // frame length in 8-byte units, 24 bits
  bool complex = false;
  uint32_t bits_per_sample = 1; // 1..32
  uint32_t thread_id = 0;       // 10 bits
  uint32_t station_id = 0;      // 16 bits

  size_t header_bytes() const { return legacy ? legacy_header_bytes : full_header_bytes; }
  size_t frame_bytes() const { return size_t{length_units} * 8; }
  // Bytes of the data array; 0 when the length is shorter than the header.
  size_t data_bytes() const { return frame_bytes() > header_bytes() ? frame_bytes() - header_bytes() : 0; }
  uint32_t channels() const { return log2_channels < 31 ? 1u << log2_channels : 0u; }
};

// Decodes the header at bytes; false when fewer than the header's own size
// (16 or 32 bytes) are available. No field is judged here.
bool decode_header(const uint8_t* bytes, size_t available, frame_header& header);

// Encodes header into its 16 or 32 bytes (words 4-7 written as zeros);
// returns the number of bytes written. Fields wider than their bit ranges
// are cut to them.
size_t encode_header(const frame_header& header, uint8_t* out);

// UTC second (since 1970) of reference epoch k: 1 January (k even) or
// 1 July (k odd) of year 2000 + k / 2, 00:00:00.
int64_t reference_epoch_utc(uint32_t k);

// The latest reference epoch at or before a UTC second (from 2000 on;
// seconds before 2000 give 0).
uint32_t reference_epoch_of(int64_t utc);

// UTC second of the frame: its reference epoch plus its seconds.
inline int64_t frame_utc(const frame_header& h) {
  return reference_epoch_utc(h.reference_epoch) + h.seconds;
}

}  // namespace korva::vdif
