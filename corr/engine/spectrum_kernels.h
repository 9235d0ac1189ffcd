// Per-bin single-precision kernels of the correlation worker, with the phase
// tables they read and the dither generator.
//
// Spectra are interleaved (re, im) float pairs, bin 0 first. Phases are
// unsigned 64-bit fractions of a turn (2^64 is a turn) and wrap modulo 2^64.
//
// Contract: the kernels trust their caller and check nothing. Every array
// starts on a 16-byte boundary (aligned vector loads and stores) and holds at
// least n bins; the correlation worker guarantees both. n is the bin count;
// n / 2 two-bin blocks are processed, so the last bin of an odd n is neither
// read nor written, and n <= 1 does nothing. The kernels allocate nothing and
// have no per-bin branch.
#pragma once

#include <cstdint>

namespace korva {

// sin and cos of 2 pi k / 256, k = 0..255, built when constructed: the
// argument of entry k is the double 6.283185307179586 times k times 1/256
// (exact in extended precision, then rounded to double); sine and cosine in
// double, rounded to float. Read-only once built, so any number of threads
// may share one.
// cos_sin holds the same values in pairs, cos then sin of entry k, for the
// wide kernels, which fetch both with one 8-byte load.
struct phase_tables {
  phase_tables();
  alignas(16) float sin[256];
  alignas(16) float cos[256];
  alignas(64) float cos_sin[256][2];
};

// out = in * exp(+2 pi j q_b / 256) for the two bins of block b, q_b the top
// 8 bits of phase + 2 b step (mod 2^64), sin and cos from the tables. in and
// out are distinct arrays.
// Single-precision order per bin: re co - im si, im co + re si.
void rotate_spectrum(const phase_tables& tables, const float* in, float* out, uint64_t phase,
                     uint64_t step, int32_t n);

// acc += a * conj(b) per bin; a and b may be the same array (auto-power).
// Single-precision order per bin: (acc.re + ar br) + ai bi and
// (acc.im - ar bi) + ai br.
void cross_multiply_accumulate(const float* a, const float* b, float* acc, int32_t n);

// MT19937-64 with the published reference parameters and seeding: equal
// output for output to std::mt19937_64 with the same seed. One per worker.
class dither_generator {
 public:
  explicit dither_generator(uint64_t seed = 5489u) { this->seed(seed); }
  // Restarts the sequence of seed s.
  void seed(uint64_t s);
  // The next 64-bit output.
  uint64_t next();

 private:
  void regenerate();

  uint64_t state_[312];
  int index_;
};

}  // namespace korva
