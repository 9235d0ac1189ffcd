#include "gaussian_noise.h"

#include <algorithm>
#include <cmath>

namespace korva::sim {
namespace {

// splitmix64 finaliser: a bijective mix with good avalanche, so that
// neighbouring chunk numbers give unrelated generator seeds.
uint64_t mix64(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// xoshiro256++ (Blackman and Vigna), its state filled by splitmix64.
class xoshiro256 {
 public:
  explicit xoshiro256(uint64_t seed) {
    for (uint64_t& word : state_) {
      seed += 0x9E3779B97F4A7C15ull;
      word = mix64(seed);
    }
  }
  uint64_t next() {
    const uint64_t result = rotl(state_[0] + state_[3], 23) + state_[0];
    const uint64_t t = state_[1] << 17;
    state_[2] ^= state_[0];
    state_[3] ^= state_[1];
    state_[1] ^= state_[2];
    state_[0] ^= state_[3];
    state_[2] ^= t;
    state_[3] = rotl(state_[3], 45);
    return result;
  }

 private:
  static uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  uint64_t state_[4];
};

int64_t floor_div(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

}  // namespace

uint64_t noise_key(uint64_t seed, uint64_t stream_a, uint64_t stream_b) {
  return mix64(mix64(mix64(seed) ^ stream_a) ^ (stream_b * 0xD6E8FEB86659FD93ull));
}

gaussian_noise::gaussian_noise(uint64_t key) : key_(key) {}

void gaussian_noise::generate(chunk& c, int64_t index) const {
  // Marsaglia's polar method on xoshiro256++ output, written out so that the
  // values depend on no library's distribution algorithm. One 64-bit draw
  // gives the two 32-bit uniforms of a candidate pair.
  xoshiro256 engine(mix64(key_ ^ mix64(static_cast<uint64_t>(index))));
  c.samples.resize(noise_chunk_samples);
  constexpr double to_symmetric = 1.0 / 2147483648.0;  // 2^-31: [0, 2^32) -> [0, 2)
  for (int i = 0; i < noise_chunk_samples; i += 2) {
    double u, v, s;
    do {
      const uint64_t bits = engine.next();
      u = static_cast<double>(bits >> 32) * to_symmetric - 1.0;
      v = static_cast<double>(bits & 0xFFFFFFFFu) * to_symmetric - 1.0;
      s = u * u + v * v;
    } while (s >= 1.0 || s == 0.0);
    const double factor = std::sqrt(-2.0 * std::log(s) / s);
    c.samples[i] = static_cast<float>(u * factor);
    c.samples[i + 1] = static_cast<float>(v * factor);
  }
  c.index = index;
}

const gaussian_noise::chunk& gaussian_noise::fetch(int64_t index) {
  for (const chunk& c : cache_) {
    if (c.index == index) return c;
  }
  chunk& victim = cache_[next_victim_];
  next_victim_ ^= 1;
  generate(victim, index);
  return victim;
}

void gaussian_noise::read(int64_t first, int64_t count, float* out) {
  while (count > 0) {
    const int64_t index = floor_div(first, noise_chunk_samples);
    const int64_t offset = first - index * noise_chunk_samples;
    const int64_t take = std::min<int64_t>(count, noise_chunk_samples - offset);
    const chunk& c = fetch(index);
    for (int64_t i = 0; i < take; ++i) out[i] = c.samples[offset + i];
    out += take;
    first += take;
    count -= take;
  }
}

}  // namespace korva::sim
