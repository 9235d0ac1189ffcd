// End-to-end fringe test: simulate stations that see one sky signal, run the
// correlator on their raw files, inspect the output and check the fringes
// against what the signal, the quantisation and the correlator's design
// predict. Negative controls show that the checks can fail: independent
// noise gives no fringe, and a clock offset in the schedule alone moves the
// peak by exactly that many lags.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "subprocess.h"
#include "temporary_folder.h"

namespace {

namespace fs = std::filesystem;

using fringe_fields = std::map<std::string, std::string>;
using fringe_report = std::map<std::string, fringe_fields>;  // by "FIRST-SECOND"

std::string tool(const char* variable, const char* built) {
  const char* override_path = std::getenv(variable);
  return override_path != nullptr ? override_path : built;
}

using korva::testing::program_result;
using korva::testing::temporary_folder;

fringe_report parse_report(const std::string& text) {
  fringe_report report;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    fringe_fields fields;
    std::istringstream words(line);
    std::string word;
    while (words >> word) {
      const size_t equals = word.find('=');
      if (equals != std::string::npos) fields[word.substr(0, equals)] = word.substr(equals + 1);
    }
    if (fields.count("pair") != 0) report[fields["pair"]] = fields;
  }
  return report;
}

double number(const fringe_report& report, const std::string& pair, const std::string& key) {
  const auto p = report.find(pair);
  if (p == report.end()) {
    ADD_FAILURE() << "no fringe reported for " << pair;
    return NAN;
  }
  const auto v = p->second.find(key);
  if (v == p->second.end()) {
    ADD_FAILURE() << "no " << key << " for " << pair;
    return NAN;
  }
  return std::stod(v->second);
}

// Normalised correlation after quantisation of two unit-variance Gaussian
// signals with correlation rho: E[Q(x) Q(y)] / E[Q(x)^2], by integrating
// over x the conditional expectation of Q(y), y | x ~ N(rho x, 1 - rho^2).
// Two bits: thresholds -1, 0, +1 and levels -1.5, -0.5, +0.5, +1.5; one bit: sign.
double quantised_correlation(double rho, int bits) {
  const double cut[] = {-INFINITY, -1.0, 0.0, 1.0, INFINITY};
  const double level2[] = {-1.5, -0.5, 0.5, 1.5};
  auto level = [&](double x) {
    if (bits == 1) return x < 0 ? -1.0 : 1.0;
    return x < -1 ? -1.5 : x < 0 ? -0.5 : x < 1 ? 0.5 : 1.5;
  };
  auto normal_cdf = [](double z) { return 0.5 * std::erfc(-z / std::sqrt(2.0)); };
  const double spread = std::sqrt(1.0 - rho * rho);
  double cross = 0.0, power = 0.0;
  const int steps = 40000;
  const double dx = 20.0 / steps;
  for (int i = 0; i < steps; ++i) {
    const double x = -10.0 + (i + 0.5) * dx;
    const double weight = std::exp(-0.5 * x * x) / std::sqrt(2.0 * M_PI) * dx;
    double expected_y = 0.0;
    if (bits == 1) {
      expected_y = 1.0 - 2.0 * normal_cdf(-rho * x / spread);
    } else {
      for (int j = 0; j < 4; ++j) {
        expected_y += level2[j] * (normal_cdf((cut[j + 1] - rho * x) / spread) -
                                   normal_cdf((cut[j] - rho * x) / spread));
      }
    }
    cross += weight * level(x) * expected_y;
    power += weight * level(x) * level(x);
  }
  return cross / power;
}

// Quantisation efficiency for weak signals: (E[x Q(x)])^2 / E[Q(x)^2].
double quantisation_efficiency(int bits) {
  if (bits == 1) return 2.0 / M_PI;
  const double phi0 = 1.0 / std::sqrt(2.0 * M_PI);
  const double phi1 = phi0 * std::exp(-0.5);
  const double outer = std::erfc(1.0 / std::sqrt(2.0));  // P(|x| > 1)
  const double xq = phi0 + 2.0 * phi1;                   // 0.5 phi(0) + phi(1), both signs
  return xq * xq / (0.25 * (1.0 - outer) + 2.25 * outer);
}

// Three stations within about 140 km (fringe rates below 60 Hz at 2 GHz):
// one phase per 1024-point segment at 1 Msps loses below 1 %.
std::string short_baseline_schedule(const std::string& bravo_clock) {
  return "$Terminal TESTMODE 1Msps/2bit/4ch\n"
         "$Station A ALPHA -3948382.481 3313086.283 3744779.842\n"
         "$Station B BRAVO -3957456.132 3250691.115 3789615.974" + bravo_clock + "\n"
         "$Station C CHARLIE -3934176.332 3360104.019 3717741.058\n"
         "$Source SRC1 12h29m06.6997 +02d03'08.598\n"
         "$Stream CH2 SRC1 2.0e9 2 1024 4\n"
         "$Process 2024/101 12:00:00 4 SRC1 ABC\n";
}

constexpr double simulated_correlation = 0.3;
constexpr int short_scan_records = 16;

class FringeEndToEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { scratch_ = new temporary_folder(); }
  static void TearDownTestSuite() {
    delete scratch_;
    scratch_ = nullptr;
  }

  static fs::path dir(const std::string& name) {
    const fs::path p = scratch_->path() / name;
    fs::create_directories(p);
    return p;
  }

  static fs::path write_schedule(const std::string& name, const std::string& text) {
    return scratch_->write(name, text);
  }

  // Runs a program in the scratch folder; fails the test with its output
  // when the exit status is not 0.
  static program_result run(const std::string& program, const std::vector<std::string>& args) {
    const program_result r = korva::testing::run_program(program, args, scratch_->path());
    EXPECT_EQ(r.status, 0) << program << "\n" << r.out << r.err;
    return r;
  }

  static void simulate(const fs::path& schedule, const fs::path& raw, std::vector<std::string> flags) {
    flags.insert(flags.begin(), {"--schedule=" + schedule.string(), "--raw-dir=" + raw.string()});
    run(tool("KORVA_SIM", KORVA_SIM_PATH), flags);
  }

  // Correlates and inspects; checks that every output file is complete.
  static fringe_report correlate(const fs::path& schedule, const fs::path& raw,
                                 const std::string& name, int records, int fft_points) {
    const fs::path cor = dir(name);
    const program_result correlated =
        run(tool("KORVA_CORR", KORVA_CORR_PATH), {"--schedule=" + schedule.string(), "--raw-dir=" + raw.string(),
                                                  "--cor-dir=" + cor.string(), "--multi=2"});
    const uintmax_t size = 256 + uintmax_t(records) * (128 + 8 * (fft_points / 2));
    int files = 0;
    for (const auto& entry : fs::directory_iterator(cor)) {
      ++files;
      EXPECT_EQ(fs::file_size(entry.path()), size) << entry.path();
    }
    EXPECT_GT(files, 0) << correlated.out << correlated.err;
    const program_result inspected =
        run("/usr/bin/python3", {tool("KORVA_FRINGE", KORVA_FRINGE_PATH), "--format=kv", "--cor-dir=" + cor.string()});
    return parse_report(inspected.out);
  }

  // Simulates the schedule text with the simulator's flags and correlates it
  // into cor_<name>.
  static fringe_report simulate_and_correlate(const std::string& name, const std::string& schedule_text,
                                              const std::vector<std::string>& flags, int records, int fft_points) {
    const fs::path raw = dir("raw_" + name);
    const fs::path schedule = write_schedule(name + ".sched", schedule_text);
    simulate(schedule, raw, flags);
    return correlate(schedule, raw, "cor_" + name, records, fft_points);
  }

  // One raw data set serves the fringe test and the clock control: the
  // clock is in the control's schedule but left out of the simulation.
  static const fs::path& correlated_raw() {
    static fs::path raw;
    if (raw.empty()) {
      raw = dir("raw_correlated");
      simulate(write_schedule("clock.sched", short_baseline_schedule(clock_part)), raw,
               {"--seed=11", "--correlation=0.3", "--clock-ignore", "--quiet"});
    }
    return raw;
  }

  static constexpr const char* clock_part = " 2024/101 00:00:00 5.0e-6 0 0 0 0";  // 5 samples
  static temporary_folder* scratch_;
};

temporary_folder* FringeEndToEnd::scratch_ = nullptr;

const char* const short_pairs[] = {"ALPHA-BRAVO", "ALPHA-CHARLIE", "BRAVO-CHARLIE"};

TEST_F(FringeEndToEnd, CommonSignalGivesTheExpectedFringeAtLagZero) {
  const fs::path raw = correlated_raw();
  const fringe_report report =
      correlate(write_schedule("plain.sched", short_baseline_schedule("")), raw, "cor_plain",
                short_scan_records, 1024);
  ASSERT_EQ(report.size(), 3u);

  const double weak_signal = simulated_correlation * quantisation_efficiency(2);
  const double exact = quantised_correlation(simulated_correlation, 2);
  EXPECT_NEAR(quantisation_efficiency(2), 0.8811, 0.0005);  // thresholds at one sigma
  for (const char* pair : short_pairs) {
    SCOPED_TRACE(pair);
    const double amplitude = number(report, pair, "amplitude");
    const double kept = number(report, pair, "segment_loss");
    EXPECT_GT(kept, 0.99);  // the geometry keeps the per-segment loss below 1 %
    EXPECT_NEAR(amplitude / weak_signal, 1.0, 0.10);
    EXPECT_NEAR(amplitude / (exact * kept), 1.0, 0.02);
    EXPECT_LT(std::abs(number(report, pair, "delay_samples")), 0.05);  // peak at lag 0
    EXPECT_LT(std::abs(number(report, pair, "delay_seconds")), 1e-6);   // below one sample
    EXPECT_LT(number(report, pair, "phase_scatter_deg"), 2.0);
    EXPECT_LT(std::abs(number(report, pair, "fringe_rate_hz")), 0.01);
    // The phase is the offset that one rotation per segment, taken at the
    // segment's start, leaves: -180 f_r N / fs degrees.
    EXPECT_NEAR(number(report, pair, "phase_deg"), number(report, pair, "segment_phase_deg"), 1.5);
    EXPECT_GT(number(report, pair, "snr"), 300.0);
    EXPECT_EQ(number(report, pair, "records"), short_scan_records);
  }
}

TEST_F(FringeEndToEnd, ClockOffsetInTheScheduleOnlyMovesThePeakByItsSamples) {
  const fs::path raw = correlated_raw();
  const fringe_report report = correlate(scratch_->path() / "clock.sched", raw, "cor_clock",
                                         short_scan_records, 1024);
  ASSERT_EQ(report.size(), 3u);
  // BRAVO's samples are read 5 samples late: against BRAVO as the second
  // station the first arrives 5 samples later than modelled, and earlier as
  // the first.
  EXPECT_NEAR(number(report, "ALPHA-BRAVO", "delay_samples"), 5.0, 0.05);
  EXPECT_NEAR(number(report, "BRAVO-CHARLIE", "delay_samples"), -5.0, 0.05);
  EXPECT_NEAR(number(report, "ALPHA-CHARLIE", "delay_samples"), 0.0, 0.05);
  EXPECT_GT(number(report, "ALPHA-BRAVO", "snr"), 100.0);
}

TEST_F(FringeEndToEnd, IndependentNoiseGivesNoFringe) {
  const fringe_report report = simulate_and_correlate("independent", short_baseline_schedule(""),
                                                      {"--seed=11", "--correlation=0", "--quiet"},
                                                      short_scan_records, 1024);
  ASSERT_EQ(report.size(), 3u);
  const double weak_signal = simulated_correlation * quantisation_efficiency(2);
  for (const char* pair : short_pairs) {
    SCOPED_TRACE(pair);
    EXPECT_LT(number(report, pair, "snr"), 7.0);
    EXPECT_LT(number(report, pair, "amplitude"), 0.02 * weak_signal);
  }
}

TEST_F(FringeEndToEnd, OneBitSamplingKeepsTwoOverPi) {
  const fringe_report report = simulate_and_correlate(
      "one_bit",
      "$Terminal ONEBIT 2Msps/1bit/1ch\n"
      "$Station A ALPHA -3948382.481 3313086.283 3744779.842\n"
      "$Station B BRAVO -3957456.132 3250691.115 3789615.974\n"
      "$Source SRC1 12h29m06.6997 +02d03'08.598\n"
      "$Stream S1 SRC1 1.4e9 1 4096 2\n"
      "$Process 2024/101 12:00:00 2 SRC1 AB\n",
      {"--seed=5", "--correlation=0.2", "--quiet"}, 4, 4096);
  ASSERT_EQ(report.size(), 1u);
  const double amplitude = number(report, "ALPHA-BRAVO", "amplitude");
  EXPECT_NEAR(amplitude / (0.2 * 2.0 / M_PI), 1.0, 0.10);
  EXPECT_NEAR(amplitude / quantised_correlation(0.2, 1), 1.0, 0.02);
  EXPECT_LT(std::abs(number(report, "ALPHA-BRAVO", "delay_samples")), 0.05);
  EXPECT_NEAR(number(report, "ALPHA-BRAVO", "phase_deg"),
              number(report, "ALPHA-BRAVO", "segment_phase_deg"), 2.0);
}

// Beyond the design range: an intercontinental baseline at 700 MHz with
// 256-point segments at 1 Msps. The fringe turns by a sizeable fraction of a
// cycle within a segment; the amplitude must follow |sinc(f_r N / fs)| and
// the phase -180 f_r N / fs degrees.
TEST_F(FringeEndToEnd, FastFringeLosesTheSincOfItsTurnsPerSegment) {
  const fringe_report report = simulate_and_correlate(
      "fast",
      "$Terminal FAST 1Msps/2bit/4ch\n"
      "$Station A ALPHA -3948382.481 3313086.283 3744779.842\n"
      "$Station D DELTA 1130730.0 -4831245.0 3994228.0\n"
      "$Source SRC2 04h00m00.0 +20d00'00.0\n"
      "$Stream X1 SRC2 7.0e8 1 256 4\n"
      "$Process 2024/101 12:00:00 3 SRC2 AD\n",
      {"--seed=7", "--correlation=0.3", "--quiet"}, 12, 256);
  ASSERT_EQ(report.size(), 1u);
  const double kept = number(report, "ALPHA-DELTA", "segment_loss");
  EXPECT_LT(kept, 0.95);  // the test is only meaningful with a visible loss
  EXPECT_GT(kept, 0.5);
  EXPECT_NEAR(number(report, "ALPHA-DELTA", "amplitude") / (quantised_correlation(0.3, 2) * kept),
              1.0, 0.03);
  const double phase_error = std::remainder(
      number(report, "ALPHA-DELTA", "phase_deg") - number(report, "ALPHA-DELTA", "segment_phase_deg"),
      360.0);
  EXPECT_LT(std::abs(phase_error), 3.0);
  EXPECT_LT(std::abs(number(report, "ALPHA-DELTA", "delay_samples")), 0.1);
}

}  // namespace
