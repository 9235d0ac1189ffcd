// Pseudo-random sample codes for data that a recording lacks (frames
// missing, marked invalid or cut short; whole seconds missing). The codes are
// independent of every other station and of the sky: the generator is seeded
// from a key of the station's name, the UTC second and a position tag, never
// from the data. Two-bit codes follow a Gaussian quantised at 0 and +-1
// sigma: P(0) = P(3) = 0.1587, P(1) = P(2) = 0.3413; one-bit codes are 0 and 1
// with probability 1/2 each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace korva::vdif {

// 64-bit key of a station name (FNV-1a); distinct names give distinct keys.
uint64_t station_key(const std::string& station_name);

class fill_source {
 public:
  fill_source(uint64_t station_key, int bits);

  // Replaces the bits under mask of out[0 .. count-1] by fill codes of the
  // given second; tag tells apart fills within one second (the first word
  // and the thread, say). The same arguments give the same codes.
  void fill(int64_t second, uint64_t tag, uint32_t* out, size_t count, uint32_t mask) const;

 private:
  uint64_t key_;
  int bits_;
};

// Probability of 2-bit code 0 (and of code 3) out of 65,536: round(65536 x
// P(x < -1 sigma)).
inline constexpr uint32_t outer_code_threshold = 10398;

}  // namespace korva::vdif
