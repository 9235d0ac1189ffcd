// Quantisation of unit-variance samples to the recorder's 1- or 2-bit codes
// and packing of all channels into raw 32-bit words.
//
// Codes: 1 bit, 1 for x >= 0 else 0 (levels -1, +1); 2 bits, thresholds at
// -1, 0, +1 (one sigma) giving codes 0..3 (levels -1.5, -0.5, +0.5, +1.5).
// Layout of a word with B bits and M channels: S = 32 / (B M) instants per
// word; channel h owns bits h*32/M .. h*32/M + 32/M - 1, and instant k of it
// the B bits starting at h*32/M + B k.
#pragma once

#include <cstdint>

namespace korva::sim {

inline constexpr float two_bit_threshold = 1.0f;  // in units of the sample's sigma

uint32_t quantise_sample(float x, int32_t bits);

// Quantises instants 0 .. n-1 of every channel (channel_samples[h][i]) and
// writes n / S words. The mode must have a sample decoder (the packing is its
// inverse), and n must be a multiple of S.
void pack_samples(const float* const* channel_samples, int32_t n, int32_t bits, int32_t channels,
                  uint32_t* words);

}  // namespace korva::sim
