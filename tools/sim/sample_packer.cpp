#include "sample_packer.h"

#include "recording_mode.h"

namespace korva::sim {

uint32_t quantise_sample(float x, int32_t bits) {
  if (bits == 1) return x >= 0.0f ? 1u : 0u;
  // Branch-free count of the thresholds at or below x.
  return static_cast<uint32_t>(x >= -two_bit_threshold) + static_cast<uint32_t>(x >= 0.0f) +
         static_cast<uint32_t>(x >= two_bit_threshold);
}

void pack_samples(const float* const* channel_samples, int32_t n, int32_t bits, int32_t channels,
                  uint32_t* words) {
  const int32_t per_word = samples_per_word(bits, channels);
  const int32_t field_width = 32 / channels;
  const int32_t word_count = n / per_word;
  for (int32_t w = 0; w < word_count; ++w) words[w] = 0;
  for (int32_t h = 0; h < channels; ++h) {
    const float* samples = channel_samples[h];
    const int32_t base = h * field_width;
    for (int32_t w = 0; w < word_count; ++w) {
      uint32_t word = 0;
      for (int32_t k = 0; k < per_word; ++k) {
        word |= quantise_sample(samples[w * per_word + k], bits) << (base + bits * k);
      }
      words[w] |= word;
    }
  }
}

}  // namespace korva::sim
