// Band-limited interpolation of a real sampled signal, returned as its
// analytic (positive-frequency) signal at a fractional sample offset.
//
// One call takes fft_size real samples g[0 .. F-1] and returns, for
// n = 0 .. F - 2 margin - 1, the analytic signal z(margin + frac + n), whose
// real part is the band-limited interpolation of g and whose imaginary part
// is its Hilbert transform. The margin keeps the circular wrap of the FFT
// away from the kept samples: the interpolation and Hilbert kernels fall off
// as 1/distance, so the error variance is of order 1/(pi^2 margin).
#pragma once

#include <fftw3.h>

#include <complex>

namespace korva::sim {

class analytic_shifter {
 public:
  analytic_shifter(int fft_size, int margin);
  ~analytic_shifter();
  analytic_shifter(const analytic_shifter&) = delete;
  analytic_shifter& operator=(const analytic_shifter&) = delete;

  int fft_size() const { return size_; }
  int margin() const { return margin_; }
  int output_count() const { return size_ - 2 * margin_; }

  // input: fft_size samples; frac: offset in samples, any real value (|frac|
  // up to a few samples keeps the error bound above); output: output_count values.
  void shift(const float* input, double frac, std::complex<float>* output);

 private:
  int size_;
  int margin_;
  float* real_in_;
  fftwf_complex* spectrum_;
  fftwf_complex* analytic_;
  fftwf_plan forward_;
  fftwf_plan backward_;
};

}  // namespace korva::sim
