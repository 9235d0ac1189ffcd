#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "correlation_worker.h"
#include "correlation_fixture.h"

namespace {

using namespace korva;
using korva_test::correlation_run;

constexpr long double two_pow_64 = 18446744073709551616.0L;

TEST(SegmentClock, OneWorkerWalksThePeriodAndNWorkersTakeEveryNth) {
  const long double d = 1024.0L / 32768;  // 1/32 s
  std::vector<long double> all;
  for (segment_clock c = first_segment(1, 3, d, 0, 1); c.running(); c.advance()) all.push_back(c.t);
  ASSERT_EQ(all.size(), 11u);  // ceil(32768 / (3 * 1024)) starts in [1/3, 2/3)
  for (size_t m = 0; m < all.size(); ++m) EXPECT_NEAR(double(all[m]), 1.0 / 3 + m / 32.0, 1e-15);
  size_t total = 0;
  for (int k = 0; k < 4; ++k) {
    size_t j = 0;
    for (segment_clock c = first_segment(1, 3, d, k, 4); c.running(); c.advance(), ++j) {
      ASSERT_LT(k + 4 * j, all.size());
      EXPECT_NEAR(double(c.t), double(all[k + 4 * j]), 1e-15);
    }
    EXPECT_EQ(j, k < 3 ? 3u : 2u);
    total += j;
  }
  EXPECT_EQ(total, all.size());
}

TEST(FixedPointPhase, StepsWrapAsTwosComplementWithoutOverflow) {
  EXPECT_EQ(phase_step_from_turns(0.25L), uint64_t{1} << 62);
  EXPECT_EQ(phase_step_from_turns(-0.25L), uint64_t{3} << 62);
  EXPECT_EQ(phase_step_from_turns(0.5L), uint64_t{1} << 63);  // 2^63 is beyond int64
  EXPECT_EQ(phase_step_from_turns(-0.5L), uint64_t{1} << 63);
  EXPECT_EQ(phase_step_from_turns(1.25L), uint64_t{1} << 62);
  EXPECT_EQ(phase_step_from_turns(-0x1.8p-64L), ~uint64_t{0});  // -1.5 units truncate to -1
  EXPECT_EQ(fringe_phase_from_turns(0.25L), uint64_t{1} << 62);
  EXPECT_EQ(fringe_phase_from_turns(-0.25L), uint64_t{3} << 62);
  EXPECT_EQ(fringe_phase_from_turns(-0x1p-70L), 0u);  // 1 - 2^-70 rounds to one whole turn
  EXPECT_EQ(fringe_phase_from_turns(1e30L), 0u);
  EXPECT_EQ(fringe_phase_from_turns(INFINITY), 0u);
}

// The conversions avoid the truncating casts for speed; on values where the
// casts are defined they must give exactly what the casts give.
TEST(FixedPointPhase, EqualsThePlainTruncatingConversions) {
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  for (int i = 0; i < 200000; ++i) {
    const long double residual = 0.5L * unit(random) * (i % 7 == 0 ? 1e-9L : 1.0L);
    const long double turns = residual * 16 / 1024;
    EXPECT_EQ(phase_step_from_turns(turns),
              static_cast<uint64_t>(static_cast<int64_t>(std::trunc(turns * two_pow_64))))
        << double(turns);
    const long double y = 1e10L * unit(random) + unit(random);
    const long double fixed = (y - std::floor(y)) * two_pow_64;
    const uint64_t expected = fixed >= two_pow_64 ? 0 : static_cast<uint64_t>(fixed);
    EXPECT_EQ(fringe_phase_from_turns(y), expected) << double(y);
  }
}

TEST(LocateSegment, RoundsTiesToEvenWithTheSignedResidualAsStep) {
  const segment_layout layout{4, 16, 1024, 8.0};
  const station_delay delay{1000, 0, {}};
  station_clock clock{1000, 0, {}};
  segment_geometry g = locate_segment(0.625L, 1000, 997, delay, clock, layout);  // X = 2.5
  ASSERT_TRUE(g.valid);
  EXPECT_EQ(g.first_word, 3 * 4 + 2);
  EXPECT_EQ(g.phase_step, uint64_t{1} << 57);  // +0.5 word = 8 samples of 1024
  g = locate_segment(0.875L, 1000, 997, delay, clock, layout);  // X = 3.5
  EXPECT_EQ(g.first_word, 3 * 4 + 4);
  EXPECT_EQ(g.phase_step, -(uint64_t{1} << 57));
  EXPECT_EQ(g.fringe_phase, 0u);

  clock.clock[0] = -0.03125;  // tau f = -0.25 turn
  g = locate_segment(0.125L, 1000, 1000, delay, clock, layout);
  EXPECT_EQ(g.first_word, 0);  // (0.125 - 0.03125) * 4 = 0.375
  EXPECT_EQ(g.fringe_phase, uint64_t{3} << 62);
}

TEST(LocateSegment, ClockEpochAfterTheSecondEvaluatesBackwards) {
  const segment_layout layout{1000, 16, 1024, 1e9};
  station_clock clock{1100, 0, {0, 1e-3, 0, 0, 0}};  // 100 s after the second
  const station_delay delay{1000, 0, {}};
  segment_geometry g = locate_segment(0.25L, 1000, 990, delay, clock, layout);
  ASSERT_TRUE(g.valid);
  EXPECT_EQ(g.first_word, 10 * 1000 + 150);  // tau = 1e-3 (-99.75) s
  clock.clock[0] = 1e30;  // absurd: no word position at all
  EXPECT_FALSE(locate_segment(0.25L, 1000, 990, delay, clock, layout).valid);
}

// One worker on one second of 2-bit data at 32768 samples/s, FFT 1024: 32
// segments of 64 words. Both stations read the same words; Bravo's window
// is cut to test the window check.
struct WindowCheck : correlation_run {
  std::vector<uint32_t> words;
  std::vector<std::vector<double>> power;  // per segment, |DFT|^2 of the oracle
  working_memory memory;
  phase_tables phases;
  process_plan plan;
  station_delay delays[max_stations];
  raw_window_table windows;
  fftwf_plan fft = nullptr;

  void SetUp() override {
    correlation_run::SetUp();
    set_up_schedule(32768, 1);
    add_stream(0, "X", 1024, 1);
    words = korva_test::recorded_words(korva_test::epoch_2020, 1, 2048);
    ASSERT_EQ(korva_memory_allocate(memory, 1, message), 1);
    plan = resolve_process_plan(*tables, 0);
    ASSERT_EQ(plan.pair_count, 3);
    for (auto& d : delays) d = {korva_test::epoch_2020, 0, {}};
    fft = fftwf_plan_dft_r2c_1d(1024, memory.sample_buffer[0], reinterpret_cast<fftwf_complex*>(memory.fft_buffer[0]),
                                FFTW_ESTIMATE);
    // Oracle: decode by the bit layout and transform with a direct DFT in double.
    std::vector<double> c(1024), s(1024);
    for (int n = 0; n < 1024; ++n) c[n] = std::cos(2 * M_PI * n / 1024), s[n] = std::sin(2 * M_PI * n / 1024);
    for (int seg = 0; seg < 32; ++seg) {
      std::vector<double> x(1024);
      for (int n = 0; n < 1024; ++n) x[n] = ((words[seg * 64 + n / 16] >> (2 * (n % 16))) & 3) - 1.5;
      std::vector<double> p(512);
      for (int m = 0; m < 512; ++m) {
        double re = 0, im = 0;
        for (int n = 0; n < 1024; ++n) re += x[n] * c[(m * n) % 1024], im -= x[n] * s[(m * n) % 1024];
        p[m] = re * re + im * im;
      }
      power.push_back(p);
    }
  }
  void TearDown() override {
    fftwf_destroy_plan(fft);
    correlation_run::TearDown();
  }

  void expect_normalised_power(const float* spectrum, int first, int last) {
    for (int m = 0; m < 512; ++m) {
      double sum = 0;
      for (int seg = first; seg <= last; ++seg) sum += power[seg][m];
      const double expected = sum / (32 * 0.625 * 1024 * 1024);  // every segment weighs
      ASSERT_NEAR(spectrum[2 * m], expected, 1e-4 * expected + 1e-7) << "bin " << m;
      ASSERT_EQ(spectrum[2 * m + 1], 0.0f);
    }
  }

  void run_with_bravo_window(int64_t first, int64_t count, int first_segment, int last_segment) {
    windows[0] = {words.data(), 0, 2048};
    windows[1] = {words.data() + first, first, count};
    const period_inputs inputs{tables.get(), &plan, windows, delays, &phases, &memory, {fft}};
    correlation_job job{korva_test::epoch_2020, 0, 0, 0, 0, 1, &inputs, -1, {}};
    correlation_worker(&job);
    EXPECT_EQ(job.segment_count, 32);
    expect_normalised_power(memory.baseline_spectrum[0][0][0], 0, 31);
    expect_normalised_power(memory.baseline_spectrum[0][1][1], first_segment, last_segment);
    for (int m = 0; m < 1024; ++m)  // the same spectra meet in the cross product
      ASSERT_EQ(memory.baseline_spectrum[0][0][1][m], memory.baseline_spectrum[0][1][1][m]);
  }
};

TEST_F(WindowCheck, SegmentsOutsideTheWindowAreZeroAndStillWeigh) {
  run_with_bravo_window(64, 960, 1, 15);  // words 64..1023: both edges accepted
}
TEST_F(WindowCheck, OneWordLessAtTheStartRejectsTheSegment) { run_with_bravo_window(65, 959, 2, 15); }
TEST_F(WindowCheck, OneWordLessAtTheEndRejectsTheSegment) { run_with_bravo_window(64, 959, 1, 14); }

}  // namespace
