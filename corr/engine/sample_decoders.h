// Sample decoders: extract one channel of packed 1- or 2-bit samples from raw
// 32-bit words into single-precision levels, in time order.
//
// Layout of a word with B bits and M channels: S = 32 / (B M) instants per
// word; channel h owns bits h*32/M .. h*32/M + 32/M - 1; instant k of that
// channel is the B bits starting at h*32/M + B k (bit 0 least significant).
// Levels: 1 bit -1, +1; 2 bits -1.5, -0.5, +0.5, +1.5 for codes 0..3.
//
// Contract: the decoders trust their caller and check nothing. channel must
// lie in 0..M-1 and words must hold n / S readable words; the correlation
// worker validates both before it calls. A decoder reads exactly n / S words
// (n / S truncated toward zero), each once and in order, and writes
// S * (n / S) floats; the last n mod S outputs keep their contents, and
// n <= 0 reads and writes nothing.
#pragma once

#include <cstdint>

#include "kernel_paths.h"

namespace korva {

using sample_decoder = void (*)(const uint32_t* words, float* out, int32_t n, int32_t channel);

// Levels of the sample codes.
inline constexpr float level_1bit[2] = {-1.0f, +1.0f};
inline constexpr float level_2bit[4] = {-1.5f, -0.5f, +0.5f, +1.5f};

// The ten terminal modes: decode_<bits>bit_<channels>ch.
void decode_1bit_1ch(const uint32_t* words, float* out, int32_t n, int32_t channel);
void decode_1bit_2ch(const uint32_t* words, float* out, int32_t n, int32_t channel);
void decode_1bit_4ch(const uint32_t* words, float* out, int32_t n, int32_t channel);
void decode_1bit_8ch(const uint32_t* words, float* out, int32_t n, int32_t channel);
void decode_1bit_16ch(const uint32_t* words, float* out, int32_t n, int32_t channel);
void decode_2bit_1ch(const uint32_t* words, float* out, int32_t n, int32_t channel);
void decode_2bit_2ch(const uint32_t* words, float* out, int32_t n, int32_t channel);
void decode_2bit_4ch(const uint32_t* words, float* out, int32_t n, int32_t channel);
void decode_2bit_8ch(const uint32_t* words, float* out, int32_t n, int32_t channel);
void decode_2bit_16ch(const uint32_t* words, float* out, int32_t n, int32_t channel);

// The decoder of the terminal mode, or nullptr when the mode has none
// (bits not 1 or 2, channels not 1, 2, 4, 8 or 16).
sample_decoder select_sample_decoder(int32_t bits, int32_t channels);

// The decoder of the terminal mode in the instruction set of a kernel path
// the CPU runs: the functions above for SSE, vector decoders with AVX2 for
// the AVX2 and AVX-512 paths. Every one writes exactly what the functions
// above write, under the same contract. nullptr as above.
sample_decoder select_sample_decoder(int32_t bits, int32_t channels, kernel_path path);

// The AVX2 decoders; only for CPUs with AVX2.
sample_decoder select_sample_decoder_avx2(int32_t bits, int32_t channels);

}  // namespace korva
