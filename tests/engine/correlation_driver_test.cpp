#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <filesystem>

#include "correlation_fixture.h"
#include "station_delay.h"

namespace {

using namespace korva;
using namespace korva_test;

// The delay model of a schedule station and source at second t.
station_delay model_delay(const station_info& station, const source_info& source, int32_t t) {
  return compute_station_delay(compute_delay_frame(source.ra, source.dec, t),
                               station_position{station.x, station.y, station.z});
}

constexpr double quantum = 2 * M_PI / 256;  // one step of the phase tables: 1.40625 degrees

using Driver = correlation_run;

TEST_F(Driver, IdenticalDataAtTheGeocentreCorrelatesWithCoefficientOneAndZeroPhase) {
  set_up_schedule(32768, 2);
  add_stream(0, "X", 1024, 2);
  const auto words = recorded_words(epoch_2020, 2, words_per_second());
  write_raw("Alpha", words);
  write_raw("Bravo", words);
  ASSERT_EQ(run(2), 1) << message.text;
  auto aa = read("Alpha", "Alpha", "X"), ab = read("Alpha", "Bravo", "X"), bb = read("Bravo", "Bravo", "X");
  ASSERT_EQ(ab.records.size(), 4u);
  for (size_t r = 0; r < 4; ++r) {
    for (int k = 0; k < 5; ++k) EXPECT_EQ(ab.records[r].first.delay[k], 0.0);
    for (size_t m = 0; m < 512; ++m) {
      const auto rho = coefficient(ab.records[r], aa.records[r], bb.records[r], m);
      ASSERT_NEAR(std::abs(rho), 1.0, 1e-6) << r << " " << m;
      ASSERT_EQ(rho.imag(), 0.0);
    }
  }
}

// Bravo records other noise. For M segments per record, each bin's
// coefficient rho has E|rho|^2 = 1/M; over 511 bins the mean of |rho|^2 has
// a relative spread of 1/sqrt(511), so [0.5/M, 2/M] is a bound of more than
// 10 sigma, and |mean rho| stays below 5 / sqrt(511 M).
TEST_F(Driver, IndependentDataGivesCrossPowerConsistentWithZero) {
  set_up_schedule(32768, 2);
  add_stream(0, "X", 1024, 1);
  write_raw("Alpha", recorded_words(epoch_2020, 2, words_per_second()));
  write_raw("Bravo", recorded_words(epoch_2020, 2, words_per_second(), 0x9E3779B9u));
  ASSERT_EQ(run(1), 1) << message.text;
  auto aa = read("Alpha", "Alpha", "X"), ab = read("Alpha", "Bravo", "X"), bb = read("Bravo", "Bravo", "X");
  const double segments = 32;
  for (size_t r = 0; r < 2; ++r) {
    double power = 0;
    std::complex<double> mean = 0;
    for (size_t m = 1; m < 512; ++m) {
      const auto rho = coefficient(ab.records[r], aa.records[r], bb.records[r], m);
      power += std::norm(rho) / 511, mean += rho / 511.0;
    }
    EXPECT_GT(power, 0.5 / segments);
    EXPECT_LT(power, 2.0 / segments);
    EXPECT_LT(std::abs(mean), 5 / std::sqrt(511 * segments));
  }
}

// Per bin, |x_threads - x_1| <= tolerance * sqrt(auto_a auto_b) for every pair.
void expect_runs_agree(Driver& d, const std::string& other, double tolerance, double* largest = nullptr) {
  const char* names[2] = {"Alpha", "Bravo"};
  for (int a = 0; a < 2; ++a)
    for (int b = a; b < 2; ++b) {
      auto one = d.read(names[a], names[b], "X", "t1"), many = d.read(names[a], names[b], "X", other);
      auto aa = d.read(names[a], names[a], "X", "t1"), bb = d.read(names[b], names[b], "X", "t1");
      ASSERT_EQ(one.records.size(), many.records.size());
      for (size_t r = 0; r < one.records.size(); ++r)
        for (size_t m = 0; m < one.records[r].spectrum.size(); ++m) {
          const double scale = std::sqrt(double(aa.records[r].spectrum[m].real()) * bb.records[r].spectrum[m].real());
          const double difference = std::abs(std::complex<double>(one.records[r].spectrum[m]) -
                                             std::complex<double>(many.records[r].spectrum[m]));
          ASSERT_LE(difference, tolerance * scale) << other << " pair " << a << b << " bin " << m;
          if (largest && a != b) *largest = std::max(*largest, difference / scale);
        }
    }
}

TEST_F(Driver, OneTwoAndEightThreadsAgreeToSinglePrecisionWithZeroDelays) {
  set_up_schedule(32768, 1);
  add_stream(0, "X", 1024, 1);  // 32 segments: 4 for each of 8 workers
  write_raw("Alpha", recorded_words(epoch_2020, 1, words_per_second()));
  write_raw("Bravo", recorded_words(epoch_2020, 1, words_per_second(), 7));
  for (int threads : {1, 2, 8}) ASSERT_EQ(run(threads, "t" + std::to_string(threads)), 1) << message.text;
  expect_runs_agree(*this, "t2", 1e-5);
  expect_runs_agree(*this, "t8", 1e-5);
}

// Every block's rotation is truncated to the table by less than one step, so
// each segment's cross product turns by less than one step either way and two
// runs differ per bin by at most 2 sin(step) sqrt(auto_a auto_b).
TEST_F(Driver, WithDelaysThreadCountsDifferWithinThePhaseQuantisation) {
  set_up_schedule(1048576, 1);
  add_stream(0, "X", 1024, 4);  // 256 segments per period
  tables->stations[1].x = 1.0e6, tables->stations[1].y = 2.0e6, tables->stations[1].z = 0.5e6;
  tables->clocks[1] = {epoch_2020 - 3600, 0, {(37 + 0.3) / 65536, 2e-9, 0, 0, 0}};
  const auto words = recorded_words(epoch_2020, 2, words_per_second());
  write_raw("Alpha", words);
  write_raw("Bravo", words);
  for (int threads : {1, 2, 8}) ASSERT_EQ(run(threads, "t" + std::to_string(threads)), 1) << message.text;
  double largest = 0;
  const double bound = 2 * std::sin(quantum) * (1 + 1e-4) + 1e-5;
  expect_runs_agree(*this, "t2", bound, &largest);
  expect_runs_agree(*this, "t8", bound, &largest);
  EXPECT_GT(largest, 1e-4);  // the delays do make the quantisation differ
}

// The 2-bit samples of words delayed by lag samples (code 0 before the start).
std::vector<uint32_t> lagged(const std::vector<uint32_t>& words, size_t lag) {
  std::vector<uint32_t> out(words.size() + lag / 16 + 1, 0u);
  for (size_t n = 0; n < 16 * words.size(); ++n) {
    const uint32_t code = (words[n / 16] >> (2 * (n % 16))) & 3;
    out[(n + lag) / 16] |= code << (2 * ((n + lag) % 16));
  }
  return out;
}

// Bravo's recording lags by 597 samples (37 words and 5 samples) and its
// clock says so: whole words are skipped, the 5 samples are undone by the
// per-bin phase step (each odd bin keeps the step of the even bin below it),
// and the fringe rotation of the clock offset remains.
TEST_F(Driver, ClockOffsetRealignsLaggedDataWithItsFringePhase) {
  set_up_schedule(1048576, 1);
  add_stream(0, "X", 1024, 1, 8.4123e9);
  const double tau = 597.0 / 1048576;
  tables->clocks[1] = {epoch_2020, 0, {tau, 0, 0, 0, 0}};
  const auto words = recorded_words(epoch_2020, 2, words_per_second());
  write_raw("Alpha", words);
  write_raw("Bravo", lagged(words, 597));
  ASSERT_EQ(run(2), 1) << message.text;
  auto aa = read("Alpha", "Alpha", "X"), ab = read("Alpha", "Bravo", "X"), bb = read("Bravo", "Bravo", "X");
  const long double y = static_cast<long double>(tau) * 8.4123e9L;
  const double expected = -2 * M_PI * double(y - std::floor(y));
  const double odd_bin_step = 2 * M_PI * 5 / 1024;
  for (size_t m = 0; m < 512; ++m) {
    const auto rho = coefficient(ab.records[0], aa.records[0], bb.records[0], m);
    ASSERT_GT(std::abs(rho), 0.99) << m;  // 5 of 1024 samples do not overlap
    ASSERT_LT(std::abs(std::remainder(std::arg(rho) - expected, 2 * M_PI)), quantum + (m % 2) * odd_bin_step) << m;
  }
}

TEST_F(Driver, ThreePeriodsCarryTheirTimesAndBothStationsDelays) {
  set_up_schedule(32768, 1);
  add_stream(0, "X", 1024, 3);
  tables->stations[0].x = 1.2e6, tables->stations[1].z = -2.5e6;
  write_raw("Alpha", recorded_words(epoch_2020, 1, words_per_second()));
  write_raw("Bravo", recorded_words(epoch_2020, 1, words_per_second(), 3));
  ASSERT_EQ(run(3), 1) << message.text;
  auto ab = read("Alpha", "Bravo", "X");
  EXPECT_EQ(ab.bytes.size(), 256u + 3 * (128 + 4096));
  EXPECT_EQ(ab.record_count, 3);
  const int32_t t = epoch_2020;
  const int32_t times[3][4] = {{t, 0, t, 333333333}, {t, 333333333, t, 666666666}, {t, 666666666, t + 1, 0}};
  const station_delay alpha = model_delay(tables->stations[0], tables->sources[0], t);
  const station_delay bravo = model_delay(tables->stations[1], tables->sources[0], t);
  ASSERT_NE(alpha.delay[0], bravo.delay[0]);
  for (int p = 0; p < 3; ++p) {
    const auto& r = ab.records[p];
    EXPECT_EQ((std::vector<int32_t>{r.start_second, r.start_nanoseconds, r.end_second, r.end_nanoseconds}),
              std::vector<int32_t>(times[p], times[p] + 4));
    EXPECT_EQ(r.period_length, 0.33333334f);
    EXPECT_EQ(r.first.epoch, t);
    for (int k = 0; k < 5; ++k) {
      EXPECT_EQ(r.first.delay[k], alpha.delay[k]);
      EXPECT_EQ(r.second.delay[k], bravo.delay[k]);
    }
  }
}

TEST_F(Driver, TenSecondsAtFourPeriodsGiveWholeFilesOfFortyRecords) {
  set_up_schedule(32768, 10);
  add_stream(0, "X", 1024, 4);
  write_raw("Alpha", recorded_words(epoch_2020, 10, words_per_second()));
  write_raw("Bravo", recorded_words(epoch_2020, 10, words_per_second(), 5));
  ASSERT_EQ(run(2), 1) << message.text;
  for (const char* b : {"Alpha", "Bravo"}) {
    EXPECT_EQ(fs::file_size(cor_path("Alpha", b, "X")), 169216u);
    auto f = read("Alpha", b, "X");
    ASSERT_EQ(f.records.size(), 40u);
    for (int r = 0; r < 40; ++r) {
      EXPECT_EQ(f.records[r].start_second, epoch_2020 + r / 4);
      EXPECT_EQ(f.records[r].start_nanoseconds, (r % 4) * 250000000);
    }
  }
  EXPECT_EQ(fs::file_size(cor_path("Bravo", "Bravo", "X")), 169216u);
}

TEST_F(Driver, StreamSourceDrivesTheDelaysWhenTheProcessSourceIsMissing) {
  set_up_schedule(32768, 1);
  add_stream(0, "X", 1024, 1);
  tables->sources[1] = {"OJ287", 2.3, 0.35};
  std::strcpy(tables->streams[0].source, "OJ287");
  std::strcpy(tables->processes[0].source, "MISSING");
  tables->stations[1].y = 3e6;
  write_raw("Alpha", recorded_words(epoch_2020, 1, words_per_second()));
  write_raw("Bravo", recorded_words(epoch_2020, 1, words_per_second()));
  ASSERT_EQ(run(1), 1) << message.text;
  auto ab = read("Alpha", "Bravo", "X");
  EXPECT_EQ(ab.records[0].second.delay[0], model_delay(tables->stations[1], tables->sources[1], epoch_2020).delay[0]);
}

TEST_F(Driver, WorkersWithoutSegmentsAreLeftOutOfTheAverage) {
  set_up_schedule(32768, 1);
  add_stream(0, "X", 1024, 16);  // 2 segments per period
  write_raw("Alpha", recorded_words(epoch_2020, 1, words_per_second()));
  write_raw("Bravo", recorded_words(epoch_2020, 1, words_per_second(), 11));
  ASSERT_EQ(run(2, "t2"), 1) << message.text;
  ASSERT_EQ(run(8, "t8"), 1) << message.text;
  for (const char* b : {"Alpha", "Bravo"}) {
    auto two = read("Alpha", b, "X", "t2"), eight = read("Alpha", b, "X", "t8");
    ASSERT_EQ(two.records.size(), 16u);
    for (size_t r = 0; r < 16; ++r)
      for (size_t m = 0; m < 512; ++m) {
        ASSERT_TRUE(std::isfinite(eight.records[r].spectrum[m].real()));
        ASSERT_EQ(two.records[r].spectrum[m], eight.records[r].spectrum[m]);
      }
  }
}

TEST_F(Driver, FailuresEndTheSecondWithAMessage) {
  set_up_schedule(32768, 1);
  add_stream(0, "X", 1024, 1);
  write_raw("Alpha", recorded_words(epoch_2020, 1, words_per_second()));
  write_raw("Bravo", recorded_words(epoch_2020, 1, words_per_second()));
  fs::create_directories(dir + "/full");
  ASSERT_EQ(symlink("/dev/full", cor_path("Alpha", "Bravo", "X", "full").c_str()), 0);
  EXPECT_EQ(run(1, "full"), -1);
  EXPECT_EQ(std::string(message.text), "korva_write_cor_record: Can't write cor-file[" +
                                           cor_path("Alpha", "Bravo", "X", "full") + "]");
  tables->streams[0].channel = 2;
  EXPECT_EQ(run(1), -1);
  EXPECT_STREQ(message.text, "correlate_second: Channel 2 outside the terminal's 1 channels [X]");
  correlator idle(*tables, 0, working_memory{});
  message_buffer refusal;
  raw_window_table windows;
  struct : record_sink {
    int32_t write_record(const period_id&, const station_pair&, const cor_record_header&, const float*, int32_t,
                         message_buffer&) override {
      return 1;
    }
  } sink;
  EXPECT_EQ(idle.correlate_second(resolve_process_plan(*tables, 0), epoch_2020, windows, sink, refusal), -1);
  EXPECT_STREQ(refusal.text, "correlate_second: Thread count 0 outside 1..8");
}

}  // namespace
