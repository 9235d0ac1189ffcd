// A small reader of correlation output files for tests: decodes every field
// from its byte offset as little-endian, independently of the writer.
#pragma once

#include <bit>
#include <complex>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace cor_reader {

struct station_record {
  std::string name;  // the 16 bytes up to the first NUL
  double x, y, z;
  bool reserved_zero;
};

struct delay_record {
  int32_t epoch;
  uint32_t zero;
  double delay[5];
};

struct record {
  int32_t start_second, start_nanoseconds, end_second, end_nanoseconds;
  delay_record first, second;
  float period_length;
  bool reserved_zero;
  std::vector<std::complex<float>> spectrum;
};

struct cor_file {
  std::vector<unsigned char> bytes;  // the whole file
  uint32_t magic;
  int32_t fixed[2];
  int32_t sample_rate;
  double frequency;
  int32_t fft_points, record_count;
  station_record first, second;
  std::string source_name;
  double ra, dec;
  bool reserved_zero;
  std::vector<record> records;
  bool whole_records;  // the file ends after a whole record
};

inline uint64_t le(const std::vector<unsigned char>& b, size_t at, int size) {
  uint64_t v = 0;
  for (int i = size - 1; i >= 0; --i) v = (v << 8) | b[at + i];
  return v;
}
inline int32_t i32(const std::vector<unsigned char>& b, size_t at) { return static_cast<int32_t>(le(b, at, 4)); }
inline double f64(const std::vector<unsigned char>& b, size_t at) { return std::bit_cast<double>(le(b, at, 8)); }
inline float f32(const std::vector<unsigned char>& b, size_t at) {
  return std::bit_cast<float>(static_cast<uint32_t>(le(b, at, 4)));
}
inline bool zeros(const std::vector<unsigned char>& b, size_t at, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (b[at + i] != 0) return false;
  return true;
}
inline std::string text(const std::vector<unsigned char>& b, size_t at) {
  std::string s(reinterpret_cast<const char*>(&b[at]), 16);
  return s.substr(0, s.find('\0'));
}

inline station_record read_station(const std::vector<unsigned char>& b, size_t at) {
  return {text(b, at), f64(b, at + 16), f64(b, at + 24), f64(b, at + 32), zeros(b, at + 40, 8)};
}
inline delay_record read_delay(const std::vector<unsigned char>& b, size_t at) {
  delay_record d{i32(b, at), static_cast<uint32_t>(le(b, at + 4, 4)), {}};
  for (int k = 0; k < 5; ++k) d.delay[k] = f64(b, at + 8 + 8 * k);
  return d;
}

// Reads the file at path; false when it cannot be read or has no whole header.
inline bool read(const std::string& path, cor_file& f) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  f.bytes.assign(std::istreambuf_iterator<char>(in), {});
  const auto& b = f.bytes;
  if (b.size() < 256) return false;
  f.magic = static_cast<uint32_t>(le(b, 0, 4));
  f.fixed[0] = i32(b, 4);
  f.fixed[1] = i32(b, 8);
  f.sample_rate = i32(b, 12);
  f.frequency = f64(b, 16);
  f.fft_points = i32(b, 24);
  f.record_count = i32(b, 28);
  f.first = read_station(b, 32);
  f.second = read_station(b, 80);
  f.source_name = text(b, 128);
  f.ra = f64(b, 144);
  f.dec = f64(b, 152);
  f.reserved_zero = zeros(b, 160, 96);
  const size_t bins = f.fft_points > 0 ? static_cast<size_t>(f.fft_points / 2) : 0;
  const size_t size = 128 + 8 * bins;
  size_t at = 256;
  for (; at + size <= b.size(); at += size) {
    record r{i32(b, at), i32(b, at + 4), i32(b, at + 8), i32(b, at + 12), read_delay(b, at + 16),
             read_delay(b, at + 64), f32(b, at + 112), zeros(b, at + 116, 12), {}};
    for (size_t m = 0; m < bins; ++m) r.spectrum.emplace_back(f32(b, at + 128 + 8 * m), f32(b, at + 132 + 8 * m));
    f.records.push_back(std::move(r));
  }
  f.whole_records = at == b.size();
  return true;
}

}  // namespace cor_reader
