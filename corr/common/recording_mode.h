// Facts of the recording mode that every raw file shares: which bit and
// channel combinations have a sample decoder, how many sampling instants a
// 32-bit word holds, the data rate, and whether a stream of the mode can be
// correlated. The reader of the schedule, the engine, the raw-file access and
// the simulator all ask here, so they always agree.
#pragma once

#include <cstdint>

namespace korva {

// Largest FFT length of a stream in samples; the working buffers are sized
// for it.
inline constexpr int32_t max_fft_points = 65536;

struct recording_mode {
  int32_t sample_rate;  // samples per second of each channel
  int32_t bits;         // bits per sample
  int32_t channels;     // channels packed into each 32-bit word
};

// Whether a sample decoder exists: 1 or 2 bits, 1, 2, 4, 8 or 16 channels.
bool has_sample_decoder(int32_t bits, int32_t channels);

// Sampling instants per 32-bit word: 32 / (bits * channels); 0 for a
// combination that does not divide a word.
int32_t samples_per_word(int32_t bits, int32_t channels);

// sample_rate * bits * channels in signed 64-bit arithmetic (never wraps).
int64_t bits_per_second(const recording_mode& mode);

// 32-bit words per second: (sample_rate * bits * channels) >> 5 in unsigned
// 32-bit arithmetic, the unit in which the engine locates samples.
uint32_t words_per_second(const recording_mode& mode);

// Bytes per second of a raw file: sample_rate * bits * channels / 8. Equal to
// the file format's unsigned 32-bit arithmetic for every mode whose bit rate
// is below 2^32, which check_mode requires.
uint64_t bytes_per_second(const recording_mode& mode);

enum class stream_fault { none, no_decoder, sample_rate, channel, fft_points };

// The mode part of the correlatable-stream rule: a decoder exists (else
// no_decoder), and the sample rate is positive with a bit rate below 2^32 that
// fills whole 32-bit words every second (else sample_rate).
stream_fault check_mode(const recording_mode& mode);

// Whether a stream in the 1-based channel with fft_points-point transforms
// can be correlated, checked in this order: the mode (check_mode), the
// channel within 1..channels, and an FFT length in 4..max_fft_points that is
// a multiple of 4 (the kernels work on pairs of complex bins) and of the
// samples per word (segments start on whole words).
stream_fault check_stream(const recording_mode& mode, int32_t channel, int32_t fft_points);

}  // namespace korva
