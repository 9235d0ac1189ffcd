#include "station_simulator.h"

#include <algorithm>
#include <cmath>

#include "math_constants.h"

namespace korva::sim {

station_simulator::station_simulator(delay_track& track, int32_t sample_rate,
                                     std::vector<channel_plan> channels, double correlation)
    : track_(track),
      sample_rate_(sample_rate),
      channels_(std::move(channels)),
      signal_gain_(static_cast<float>(std::sqrt(correlation))),
      noise_gain_(static_cast<float>(std::sqrt(1.0 - correlation))),
      shifter_(shifter_fft_size, shifter_margin),
      grid_(shifter_fft_size),
      noise_(shifter_fft_size),
      analytic_(shifter_fft_size) {}

void station_simulator::generate(int64_t first, int32_t count, float* const* out) {
  const int32_t block = block_size();
  for (int32_t done = 0; done < count; done += block) {
    const int32_t n = std::min(block, count - done);
    for (size_t h = 0; h < channels_.size(); ++h) {
      const channel_plan& plan = channels_[h];
      float* dest = out[h] + done;
      if (plan.common != nullptr) {
        generate_signal_block(plan, first + done, n, dest);
      } else if (plan.noise != nullptr) {
        plan.noise->read(first + done, n, dest);
      } else {
        std::fill(dest, dest + n, 0.0f);
      }
    }
  }
}

void station_simulator::generate_signal_block(const channel_plan& plan, int64_t first,
                                              int32_t count, float* out) {
  const long double fs = sample_rate_;
  const long double half = count / 2.0L;
  // Geocentre time of the block's centre and the delay there.
  const long double t_centre = track_.geocentre_time((first + half) / fs);
  const delay_value d = track_.at(t_centre);

  // Grid position of output sample 0 under a delay held at its centre value.
  const long double q = t_centre * fs - half;
  const long double start = std::floor(q);
  const double frac = static_cast<double>(q - start);
  plan.common->read(static_cast<int64_t>(start) - shifter_margin, shifter_fft_size, grid_.data());
  shifter_.shift(grid_.data(), frac, analytic_.data());

  // Fringe phase f_sky tau(t_i) in turns, t_i - t_centre = (i - half) / fs / (1 + rate).
  const long double cycles = plan.sky_frequency * d.tau;
  const double phase_centre = static_cast<double>(cycles - std::floor(cycles));
  const double step = static_cast<double>(plan.sky_frequency * d.rate / ((1.0L + d.rate) * fs));
  const double phase0 = phase_centre - static_cast<double>(half) * step;
  const std::complex<double> advance = std::polar(1.0, -two_pi * step);
  std::complex<double> rotor;

  if (plan.noise != nullptr) plan.noise->read(first, count, noise_.data());
  for (int32_t i = 0; i < count; ++i) {
    if (i % 512 == 0) rotor = std::polar(1.0, -two_pi * (phase0 + i * step));  // re-anchor
    const std::complex<float> z = analytic_[i];
    // Re[z exp(-j theta)] with rotor = exp(-j theta).
    const double received = z.real() * rotor.real() - z.imag() * rotor.imag();
    float value = signal_gain_ * static_cast<float>(received);
    if (plan.noise != nullptr) value += noise_gain_ * noise_[i];
    out[i] = value;
    rotor *= advance;
  }
}

}  // namespace korva::sim
