// Reproducible unit-variance Gaussian noise indexed by sample number.
//
// The sequence is cut into chunks of 65,536 samples; chunk c is drawn from
// its own xoshiro256++ generator seeded with a hash of (key, c). Any range of
// sample numbers, negative ones included, can therefore be read in any order
// and always gives the same values: every station reads the common sky signal
// at its own delay.
#pragma once

#include <cstdint>
#include <vector>

namespace korva::sim {

inline constexpr int noise_chunk_samples = 65536;

// Mixes a seed and two stream numbers into the key of one noise sequence.
uint64_t noise_key(uint64_t seed, uint64_t stream_a, uint64_t stream_b);

// A real signal sampled on a fixed grid, read by sample number.
class sample_source {
 public:
  virtual ~sample_source() = default;
  // Writes samples first .. first + count - 1 to out.
  virtual void read(int64_t first, int64_t count, float* out) = 0;
};

class gaussian_noise final : public sample_source {
 public:
  explicit gaussian_noise(uint64_t key);
  void read(int64_t first, int64_t count, float* out) override;

 private:
  struct chunk {
    int64_t index = INT64_MIN;
    std::vector<float> samples;
  };
  const chunk& fetch(int64_t index);
  void generate(chunk& c, int64_t index) const;

  uint64_t key_;
  chunk cache_[2];  // sequential readers straddle at most two chunks
  int next_victim_ = 0;
};

}  // namespace korva::sim
