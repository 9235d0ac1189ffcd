#include "fill_codes.h"

namespace korva::vdif {
namespace {

// The SplitMix64 step: a well-mixed 64-bit output per counter value.
uint64_t splitmix64(uint64_t& state) {
  uint64_t z = (state += 0x9e3779b97f4a7c15ull);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  return z ^ (z >> 31);
}

// One 2-bit code per 16-bit uniform value: thresholds at -1, 0, +1 sigma.
uint32_t gaussian_code(uint32_t u16) {
  return static_cast<uint32_t>(u16 >= outer_code_threshold) + static_cast<uint32_t>(u16 >= 32768u) +
         static_cast<uint32_t>(u16 >= 65536u - outer_code_threshold);
}

}  // namespace

uint64_t station_key(const std::string& station_name) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (unsigned char c : station_name) {
    h ^= c;
    h *= 0x100000001b3ull;
  }
  return h;
}

fill_source::fill_source(uint64_t station_key, int bits) : key_(station_key), bits_(bits) {}

void fill_source::fill(int64_t second, uint64_t tag, uint32_t* out, size_t count, uint32_t mask) const {
  uint64_t seed = key_ ^ static_cast<uint64_t>(second) * 0xd1b54a32d192ed03ull;
  uint64_t state = splitmix64(seed) ^ tag * 0x8cb92ba72f3d8dd7ull;
  const uint32_t keep = ~mask;
  for (size_t w = 0; w < count; ++w) {
    uint32_t word = 0;
    if (bits_ == 1) {
      word = static_cast<uint32_t>(splitmix64(state) >> 32);
    } else {
      for (int quarter = 0; quarter < 4; ++quarter) {
        const uint64_t r = splitmix64(state);
        for (int k = 0; k < 4; ++k) {
          word |= gaussian_code(static_cast<uint32_t>(r >> (16 * k)) & 0xffffu) << (2 * (4 * quarter + k));
        }
      }
    }
    out[w] = (out[w] & keep) | (word & mask);
  }
}

}  // namespace korva::vdif
