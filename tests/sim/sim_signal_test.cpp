// Tests of the simulator's building blocks: reproducible noise, the analytic
// fractional-delay interpolator, quantisation and packing (checked with the
// correlator's own decoders), the delay track and a station's received signal.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numeric>
#include <vector>

#include "analytic_shifter.h"
#include "delay_track.h"
#include "gaussian_noise.h"
#include "math_constants.h"
#include "recording_mode.h"
#include "sample_decoders.h"
#include "sample_packer.h"
#include "station_simulator.h"

namespace korva::sim {
namespace {

TEST(GaussianNoise, AnyRangeInAnyOrderGivesTheSameSamples) {
  gaussian_noise whole(noise_key(7, 0, 1));
  std::vector<float> reference(200000);
  whole.read(-70000, 200000, reference.data());

  gaussian_noise pieces(noise_key(7, 0, 1));
  std::vector<float> part(200000);
  // Backwards, in pieces that straddle chunk boundaries (at 0 and 65536).
  const int64_t starts[] = {130000 - 70000, 60000 - 70000, -70000};
  const int64_t counts[] = {70000, 70000, 60000};
  for (int i = 0; i < 3; ++i) pieces.read(starts[i], counts[i], part.data() + (starts[i] + 70000));
  EXPECT_EQ(part, reference);
}

TEST(GaussianNoise, UnitNormalStatisticsAndIndependentKeys) {
  const int n = 1 << 19;
  std::vector<float> a(n), b(n);
  gaussian_noise(noise_key(1, 0, 0)).read(0, n, a.data());
  gaussian_noise(noise_key(1, 0, 1)).read(0, n, b.data());
  double sum = 0, square = 0, cross = 0, beyond_sigma = 0, lag1 = 0;
  for (int i = 0; i < n; ++i) {
    sum += a[i];
    square += double(a[i]) * a[i];
    cross += double(a[i]) * b[i];
    beyond_sigma += std::abs(a[i]) > 1.0f;
    if (i > 0) lag1 += double(a[i]) * a[i - 1];
  }
  const double bound = 5.0 / std::sqrt(double(n));  // five standard errors
  EXPECT_NEAR(sum / n, 0.0, bound);
  EXPECT_NEAR(square / n, 1.0, 2 * bound);
  EXPECT_NEAR(cross / n, 0.0, bound);
  EXPECT_NEAR(lag1 / n, 0.0, bound);
  EXPECT_NEAR(beyond_sigma / n, std::erfc(1.0 / std::sqrt(2.0)), bound);
}

// A sum of tones is band-limited with a known analytic signal, so the
// interpolated value at any fractional position has an exact oracle.
struct tone_sum final : sample_source {
  std::vector<double> frequency{0.0371, 0.1234, 0.2718, 0.4011};  // cycles per sample
  std::vector<double> phase{0.3, 1.7, -2.2, 0.9};
  std::complex<double> analytic(long double position) const {
    std::complex<double> z = 0;
    for (size_t i = 0; i < frequency.size(); ++i) {
      const long double cycles = frequency[i] * position;
      const double turns = static_cast<double>(cycles - std::floor(cycles));
      z += std::polar(0.5, 2 * pi * turns + phase[i]);
    }
    return z;
  }
  void read(int64_t first, int64_t count, float* out) override {
    for (int64_t i = 0; i < count; ++i) out[i] = static_cast<float>(analytic(first + i).real());
  }
};

TEST(AnalyticShifter, FractionalShiftOfTonesMatchesTheirAnalyticSignal) {
  tone_sum tones;
  analytic_shifter shifter(8192, 1024);
  std::vector<float> grid(8192);
  std::vector<std::complex<float>> z(shifter.output_count());
  tones.read(5000, 8192, grid.data());
  for (double frac : {0.0, 0.37, -0.81, 2.5}) {
    shifter.shift(grid.data(), frac, z.data());
    double error = 0, power = 0;
    for (int n = 0; n < shifter.output_count(); ++n) {
      const std::complex<double> expected = tones.analytic(5000 + 1024 + frac + n);
      error += std::norm(std::complex<double>(z[n]) - expected);
      power += std::norm(expected);
    }
    // Tones off the FFT grid leak through the circular wrap: stay below 1 %.
    EXPECT_LT(std::sqrt(error / power), 0.01) << "frac " << frac;
  }
}

TEST(AnalyticShifter, WholeSampleShiftOfNoiseEqualsTheNextSamples) {
  gaussian_noise noise(noise_key(3, 0, 0));
  analytic_shifter shifter(8192, 1024);
  std::vector<float> grid(8192), later(8192);
  noise.read(0, 8192, grid.data());
  noise.read(3, 8192, later.data());
  std::vector<std::complex<float>> shifted(shifter.output_count()), direct(shifter.output_count());
  shifter.shift(grid.data(), 3.0, shifted.data());
  shifter.shift(later.data(), 0.0, direct.data());
  double error = 0, power = 0, real_error = 0;
  for (int n = 0; n < shifter.output_count(); ++n) {
    error += std::norm(shifted[n] - direct[n]);
    power += std::norm(direct[n]);
    real_error = std::max(real_error, double(std::abs(direct[n].real() - later[1024 + n])));
  }
  EXPECT_LT(error / power, 1e-3);  // wrap error of order 1/(pi^2 margin)
  // Without a shift the real part is the input, up to its Nyquist component.
  EXPECT_LT(real_error, 0.1);
  // The analytic signal of unit-variance noise has |z|^2 = 2 on average.
  EXPECT_NEAR(power / shifter.output_count(), 2.0, 0.1);
}

float expected_level(float x, int bits) {
  if (bits == 1) return x >= 0 ? 1.0f : -1.0f;
  if (x < -1.0f) return -1.5f;
  if (x < 0.0f) return -0.5f;
  return x < 1.0f ? 0.5f : 1.5f;
}

TEST(SamplePacker, EveryModeDecodesToTheQuantisedLevels) {
  gaussian_noise noise(noise_key(11, 0, 0));
  for (int bits : {1, 2}) {
    for (int channels : {1, 2, 4, 8, 16}) {
      ASSERT_TRUE(has_sample_decoder(bits, channels));
      const int n = 256;
      std::vector<std::vector<float>> samples(channels, std::vector<float>(n));
      std::vector<const float*> pointers;
      for (int h = 0; h < channels; ++h) {
        noise.read(h * n, n, samples[h].data());
        samples[h][0] = -1.0f;  // thresholds belong to the code above them
        samples[h][1] = 0.0f;
        samples[h][2] = 1.0f;
        pointers.push_back(samples[h].data());
      }
      std::vector<uint32_t> words(n * bits * channels / 32);
      pack_samples(pointers.data(), n, bits, channels, words.data());
      const sample_decoder decode = select_sample_decoder(bits, channels);
      ASSERT_NE(decode, nullptr);
      std::vector<float> decoded(n);
      for (int h = 0; h < channels; ++h) {
        decode(words.data(), decoded.data(), n, h);
        for (int i = 0; i < n; ++i) {
          ASSERT_EQ(decoded[i], expected_level(samples[h][i], bits))
              << bits << " bit " << channels << " ch, channel " << h << " instant " << i;
        }
      }
    }
  }
}

station_info geocentre_station() {
  station_info s{};
  std::snprintf(s.name, sizeof s.name, "GEO");
  return s;  // at the geocentre the geometric delay is 0: the clock is all
}

source_info any_source() {
  source_info s{};
  std::snprintf(s.name, sizeof s.name, "SRC");
  s.ra = 1.0;
  s.dec = 0.3;
  return s;
}

constexpr int32_t test_epoch = 1712750400;  // 2024/101 12:00:00

TEST(DelayTrack, ClockPolynomialAndItsInverse) {
  station_clock clock{};
  clock.epoch = test_epoch - 100;
  clock.clock[0] = 2.5e-6;
  clock.clock[1] = 1.5e-6;
  clock.clock[2] = 4e-9;
  delay_track track(geocentre_station(), any_source(), clock, test_epoch, true);
  for (long double t : {0.0L, 0.3L, 1.75L, -0.2L}) {
    const long double dt = 100 + t;
    const long double tau = 2.5e-6L + 1.5e-6L * dt + 0.5L * 4e-9L * dt * dt;
    const delay_value v = track.at(t);
    EXPECT_NEAR(double(v.tau), double(tau), 1e-15);
    EXPECT_NEAR(double(v.rate), double(1.5e-6L + 4e-9L * dt), 1e-15);
    const long double t_station = t + tau;
    const long double back = track.geocentre_time(t_station);
    EXPECT_NEAR(double((back + track.at(back).tau - t_station) * 1e12L), 0.0, 1e-6) << double(t);
  }
  delay_track without(geocentre_station(), any_source(), clock, test_epoch, false);
  EXPECT_EQ(double(without.at(0.5L).tau), 0.0);
}

TEST(DelayTrack, FollowsTheGeometricModelOfEachSecond) {
  station_info station = geocentre_station();
  station.x = -3948382.481;
  station.y = 3313086.283;
  station.z = 3744779.842;
  delay_track track(station, any_source(), station_clock{}, test_epoch, true);
  const station_delay second0 = station_delay_at(station, any_source(), test_epoch);
  const station_delay second1 = station_delay_at(station, any_source(), test_epoch + 1);
  EXPECT_EQ(double(track.at(0.0L).tau), second0.delay[0]);
  EXPECT_EQ(double(track.at(1.0L).tau), second1.delay[0]);
  // The series of second 0 carried to the end of the second meets the next one.
  EXPECT_NEAR(double(track.at(0.999999L).tau), second1.delay[0], 1e-11);
  EXPECT_NEAR(double(track.at(0.5L).rate), second0.delay[1], 1e-9);
}

// With all power common and the delay known only through a clock (station at
// the geocentre), the recording must be Re[z(t) exp(-2 pi j f tau(t))] at
// t + tau(t) = t': the convention the correlator undoes.
TEST(StationSimulator, RecordsTheDelayedAndFringeRotatedSignal) {
  const int32_t sample_rate = 1000000;
  station_clock clock{};
  clock.epoch = test_epoch;
  clock.clock[0] = 3.3e-6;   // 3.3 samples
  clock.clock[1] = 1.5e-6;   // the largest Earth-rotation rate
  delay_track track(geocentre_station(), any_source(), clock, test_epoch, true);
  tone_sum tones;
  const double sky_frequency = 8.4e9;
  std::vector<channel_plan> plans(1);
  plans[0].common = &tones;
  plans[0].sky_frequency = sky_frequency;
  station_simulator simulator(track, sample_rate, plans, 1.0);

  const int64_t first = 1990000;  // across the second boundary
  const int32_t count = 20000;
  std::vector<float> out(count);
  float* pointer = out.data();
  simulator.generate(first, count, &pointer);

  double error = 0, power = 0;
  for (int32_t i = 0; i < count; ++i) {
    const long double t_station = (first + i) / static_cast<long double>(sample_rate);
    const long double t = track.geocentre_time(t_station);
    const long double cycles = sky_frequency * track.at(t).tau;
    const double turns = static_cast<double>(cycles - std::floor(cycles));
    const double expected =
        (tones.analytic(t * sample_rate) * std::polar(1.0, -2 * pi * turns)).real();
    error += (out[i] - expected) * (out[i] - expected);
    power += expected * expected;
  }
  EXPECT_LT(std::sqrt(error / power), 0.02);
}

TEST(StationSimulator, CorrelationSetsTheCommonPower) {
  const int32_t sample_rate = 1000000;
  delay_track track_a(geocentre_station(), any_source(), station_clock{}, test_epoch, true);
  delay_track track_b(geocentre_station(), any_source(), station_clock{}, test_epoch, true);
  gaussian_noise common(noise_key(5, 0, 0)), own_a(noise_key(5, 1, 0)), own_b(noise_key(5, 2, 0));
  const double rho = 0.3;
  station_simulator a(track_a, sample_rate, {{&common, 2e9, &own_a}}, rho);
  station_simulator b(track_b, sample_rate, {{&common, 2e9, &own_b}}, rho);
  const int32_t n = 200000;
  std::vector<float> xa(n), xb(n);
  float* pa = xa.data();
  float* pb = xb.data();
  a.generate(0, n, &pa);
  b.generate(0, n, &pb);
  double cross = 0, power_a = 0, power_b = 0;
  for (int32_t i = 0; i < n; ++i) {
    cross += double(xa[i]) * xb[i];
    power_a += double(xa[i]) * xa[i];
    power_b += double(xb[i]) * xb[i];
  }
  EXPECT_NEAR(power_a / n, 1.0, 0.02);
  EXPECT_NEAR(power_b / n, 1.0, 0.02);
  EXPECT_NEAR(cross / std::sqrt(power_a * power_b), rho, 5.0 / std::sqrt(double(n)));
}

}  // namespace
}  // namespace korva::sim
