#include "analytic_shifter.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <new>

#include "math_constants.h"

namespace korva::sim {
namespace {
// The FFTW planner is not thread-safe; executing plans is.
std::mutex planner_mutex;
}  // namespace

analytic_shifter::analytic_shifter(int fft_size, int margin) : size_(fft_size), margin_(margin) {
  real_in_ = fftwf_alloc_real(static_cast<size_t>(size_));
  spectrum_ = fftwf_alloc_complex(static_cast<size_t>(size_ / 2 + 1));
  analytic_ = fftwf_alloc_complex(static_cast<size_t>(size_));
  if (real_in_ == nullptr || spectrum_ == nullptr || analytic_ == nullptr) throw std::bad_alloc();
  const std::lock_guard<std::mutex> lock(planner_mutex);
  forward_ = fftwf_plan_dft_r2c_1d(size_, real_in_, spectrum_, FFTW_ESTIMATE);
  backward_ = fftwf_plan_dft_1d(size_, analytic_, analytic_, FFTW_BACKWARD, FFTW_ESTIMATE);
}

analytic_shifter::~analytic_shifter() {
  const std::lock_guard<std::mutex> lock(planner_mutex);
  fftwf_destroy_plan(backward_);
  fftwf_destroy_plan(forward_);
  fftwf_free(analytic_);
  fftwf_free(spectrum_);
  fftwf_free(real_in_);
}

void analytic_shifter::shift(const float* input, double frac, std::complex<float>* output) {
  std::copy(input, input + size_, real_in_);
  fftwf_execute(forward_);

  // Analytic spectrum: DC once, positive frequencies twice, the Nyquist bin
  // and the negative frequencies zero (the Nyquist bin has no defined phase
  // under a fractional shift). Bin k is advanced by exp(+2 pi j k frac / F),
  // which moves the signal to z(n + frac); the 1/F of the inverse transform
  // is folded in. The twiddle is a double-precision recurrence re-anchored
  // every 256 bins.
  const int half = size_ / 2;
  const double scale = 1.0 / size_;
  const double step_angle = two_pi * frac / size_;
  const std::complex<double> step(std::cos(step_angle), std::sin(step_angle));
  std::complex<double> twiddle(1.0, 0.0);
  for (int k = 0; k < size_; ++k) {
    if (k >= half) {
      analytic_[k][0] = 0.0f;
      analytic_[k][1] = 0.0f;
      continue;
    }
    if (k % 256 == 0) twiddle = std::polar(1.0, step_angle * k);
    const double weight = (k == 0 ? 1.0 : 2.0) * scale;
    const std::complex<double> bin(spectrum_[k][0], spectrum_[k][1]);
    const std::complex<double> value = bin * twiddle * weight;
    analytic_[k][0] = static_cast<float>(value.real());
    analytic_[k][1] = static_cast<float>(value.imag());
    twiddle *= step;
  }
  fftwf_execute(backward_);

  const int count = output_count();
  for (int n = 0; n < count; ++n) {
    output[n] = std::complex<float>(analytic_[margin_ + n][0], analytic_[margin_ + n][1]);
  }
}

}  // namespace korva::sim
