// The recording of one station: in every channel that carries the sky signal,
// the common geocentre signal as the station receives it, plus the station's
// own noise; in every other channel noise alone. Samples are unit-variance
// floats before quantisation.
//
// The sky signal is the baseband of an upper-sideband channel whose lower edge
// is the sky frequency f_sky, so the station records
//   r(t') = Re[ z(t) exp(-2 pi j f_sky tau(t)) ],  t + tau(t) = t',
// z the analytic signal of the common signal on the geocentre grid. The
// envelope delay is held constant over each block of output samples (error at
// most |rate| x block/2 samples, 4.6e-3 samples for 1.5e-6 s/s); the fringe
// phase follows the delay sample by sample, linear about the block centre
// (error below f_sky x |d2tau/dt2| x (block / 2 fs)^2 / 2 turns).
#pragma once

#include <complex>
#include <cstdint>
#include <memory>
#include <vector>

#include "analytic_shifter.h"
#include "delay_track.h"
#include "gaussian_noise.h"

namespace korva::sim {

inline constexpr int shifter_fft_size = 8192;
inline constexpr int shifter_margin = 1024;

struct channel_plan {
  sample_source* common = nullptr;  // null: the channel holds noise only
  double sky_frequency = 0.0;       // Hz, lower edge of the channel
  sample_source* noise = nullptr;   // the station's own noise; null: none
};

class station_simulator {
 public:
  // correlation: fraction of the power that is common signal (0..1), which is
  // the correlation coefficient between two stations' unquantised samples.
  station_simulator(delay_track& track, int32_t sample_rate, std::vector<channel_plan> channels,
                    double correlation);

  // Writes instants first .. first + count - 1 (from the process epoch) of
  // channel h to out[h].
  void generate(int64_t first, int32_t count, float* const* out);

  int block_size() const { return shifter_.output_count(); }

 private:
  void generate_signal_block(const channel_plan& plan, int64_t first, int32_t count, float* out);

  delay_track& track_;
  int32_t sample_rate_;
  std::vector<channel_plan> channels_;
  float signal_gain_;
  float noise_gain_;
  analytic_shifter shifter_;
  std::vector<float> grid_;
  std::vector<float> noise_;
  std::vector<std::complex<float>> analytic_;
};

}  // namespace korva::sim
