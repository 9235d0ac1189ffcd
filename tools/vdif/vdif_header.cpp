#include "vdif_header.h"

namespace korva::vdif {
namespace {

uint32_t load_word(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

void store_word(uint32_t w, uint8_t* p) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(w >> (8 * i));
}

// Days from 1970-01-01 to year-month-day of the proleptic Gregorian calendar
// (the civil-days algorithm by eras of 400 years).
int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

}  // namespace

bool decode_header(const uint8_t* bytes, size_t available, frame_header& h) {
  if (available < legacy_header_bytes) return false;
  const uint32_t w0 = load_word(bytes), w1 = load_word(bytes + 4);
  const uint32_t w2 = load_word(bytes + 8), w3 = load_word(bytes + 12);
  h.invalid = (w0 >> 31) & 1;
  h.legacy = (w0 >> 30) & 1;
  h.seconds = w0 & 0x3fffffffu;
  h.reference_epoch = (w1 >> 24) & 0x3f;
  h.frame_number = w1 & 0xffffffu;
  h.version = w2 >> 29;
  h.log2_channels = (w2 >> 24) & 0x1f;
  h.length_units = w2 & 0xffffffu;
  h.complex = (w3 >> 31) & 1;
  h.bits_per_sample = ((w3 >> 26) & 0x1f) + 1;
  h.thread_id = (w3 >> 16) & 0x3ff;
  h.station_id = w3 & 0xffffu;
  return available >= h.header_bytes();
}

size_t encode_header(const frame_header& h, uint8_t* out) {
  const uint32_t w0 = uint32_t{h.invalid} << 31 | uint32_t{h.legacy} << 30 | (h.seconds & 0x3fffffffu);
  const uint32_t w1 = (h.reference_epoch & 0x3f) << 24 | (h.frame_number & 0xffffffu);
  const uint32_t w2 = (h.version & 7) << 29 | (h.log2_channels & 0x1f) << 24 | (h.length_units & 0xffffffu);
  const uint32_t w3 = uint32_t{h.complex} << 31 | ((h.bits_per_sample - 1) & 0x1f) << 26 |
                      (h.thread_id & 0x3ff) << 16 | (h.station_id & 0xffffu);
  store_word(w0, out);
  store_word(w1, out + 4);
  store_word(w2, out + 8);
  store_word(w3, out + 12);
  if (h.legacy) return legacy_header_bytes;
  for (size_t i = 16; i < full_header_bytes; ++i) out[i] = 0;
  return full_header_bytes;
}

int64_t reference_epoch_utc(uint32_t k) {
  const int64_t year = 2000 + k / 2;
  return days_from_civil(year, (k % 2) ? 7 : 1, 1) * 86400;
}

uint32_t reference_epoch_of(int64_t utc) {
  uint32_t k = 0;
  while (k < 63 && reference_epoch_utc(k + 1) <= utc) ++k;
  return k;
}

}  // namespace korva::vdif
