// Tests of the raw files the simulator writes: names, sizes, reproducibility,
// the sky signal in the stream's channel only, and refusal of bad input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "raw_simulator.h"
#include "sample_decoders.h"
#include "temporary_folder.h"

namespace korva::sim {
namespace {

namespace fs = std::filesystem;

using korva::testing::temporary_folder;

// Two stations at the geocentre (no geometric delay), 1 Msps 2-bit 4-channel,
// one stream in channel 3; the process starts 2024/101 12:00:00.
std::unique_ptr<schedule_tables> two_station_tables() {
  auto t = std::make_unique<schedule_tables>();
  std::snprintf(t->terminal.name, sizeof t->terminal.name, "TEST");
  t->terminal.sample_rate = 1000000;
  t->terminal.bits = 2;
  t->terminal.channels = 4;
  const char* names[] = {"ALPHA", "BRAVO", "CHARLIE"};
  const char* codes[] = {"A", "B", "C"};
  for (int i = 0; i < 3; ++i) {
    std::snprintf(t->stations[i].name, sizeof t->stations[i].name, "%s", names[i]);
    std::snprintf(t->codes[i].code, sizeof t->codes[i].code, "%s", codes[i]);
  }
  std::snprintf(t->sources[0].name, sizeof t->sources[0].name, "SRC1");
  t->sources[0].ra = 1.0;
  t->sources[0].dec = 0.5;
  t->processes[0].epoch = 1712750400;
  t->processes[0].length = 2;
  std::memcpy(t->processes[0].source, "SRC1", 4);
  std::memcpy(t->processes[0].stations, "AB", 2);
  std::snprintf(t->streams[0].name, sizeof t->streams[0].name, "S3");
  std::memcpy(t->streams[0].source, "SRC1", 4);
  t->streams[0].frequency = 2.0e9;
  t->streams[0].channel = 3;
  t->streams[0].fft_points = 1024;
  t->streams[0].pp_per_second = 1;
  return t;
}

std::vector<uint32_t> read_words(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint32_t> words(fs::file_size(path) / 4);
  in.read(reinterpret_cast<char*>(words.data()), static_cast<std::streamsize>(words.size() * 4));
  return words;
}

bool simulate(const schedule_tables& tables, simulation_options options, const fs::path& dir,
              std::string& error) {
  options.raw_dir = dir.string();
  std::vector<simulated_file> written;
  std::vector<std::string> warnings;
  return simulate_process(tables, options, written, warnings, error);
}

TEST(SimulatedFiles, NamedAfterStationAndEpochWithOneBlockPerSecond) {
  temporary_folder scratch;
  auto tables = two_station_tables();
  simulation_options options;
  options.raw_dir = scratch.path().string();
  std::vector<simulated_file> written;
  std::vector<std::string> warnings;
  std::string error;
  ASSERT_TRUE(simulate_process(*tables, options, written, warnings, error)) << error;
  ASSERT_EQ(written.size(), 2u);  // CHARLIE does not take part
  EXPECT_EQ(fs::path(written[0].path).filename(), "ALPHA_2024101120000.raw");
  EXPECT_EQ(fs::path(written[1].path).filename(), "BRAVO_2024101120000.raw");
  for (const auto& f : written) {
    EXPECT_EQ(fs::file_size(f.path), 2u * 1000000 * 2 * 4 / 8);
    EXPECT_EQ(f.bytes, 2 * 1000000);
  }
  EXPECT_FALSE(fs::exists(scratch.path() / "CHARLIE_2024101120000.raw"));
  EXPECT_TRUE(warnings.empty());
}

TEST(SimulatedFiles, SameSeedSameBytesOtherSeedOtherBytesAnyThreadCount) {
  temporary_folder one, two, three;
  auto tables = two_station_tables();
  simulation_options options;
  std::string error;
  options.threads = 1;
  ASSERT_TRUE(simulate(*tables, options, one.path(), error)) << error;
  options.threads = 4;
  ASSERT_TRUE(simulate(*tables, options, two.path(), error)) << error;
  options.seed = 2;
  ASSERT_TRUE(simulate(*tables, options, three.path(), error)) << error;
  const char* name = "BRAVO_2024101120000.raw";
  EXPECT_EQ(read_words(one.path() / name), read_words(two.path() / name));
  EXPECT_NE(read_words(one.path() / name), read_words(three.path() / name));
}

// Correlation of the decoded levels of one channel of two recordings.
double channel_correlation(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b,
                           int channel) {
  const sample_decoder decode = select_sample_decoder(2, 4);
  const int32_t n = static_cast<int32_t>(a.size()) * 4;
  std::vector<float> xa(n), xb(n);
  decode(a.data(), xa.data(), n, channel);
  decode(b.data(), xb.data(), n, channel);
  double cross = 0, pa = 0, pb = 0;
  for (int32_t i = 0; i < n; ++i) {
    cross += double(xa[i]) * xb[i];
    pa += double(xa[i]) * xa[i];
    pb += double(xb[i]) * xb[i];
  }
  return cross / std::sqrt(pa * pb);
}

TEST(SimulatedFiles, SkySignalOnlyInTheStreamsChannel) {
  temporary_folder scratch;
  auto tables = two_station_tables();
  simulation_options options;
  options.correlation = 0.5;
  std::string error;
  ASSERT_TRUE(simulate(*tables, options, scratch.path(), error)) << error;
  const auto a = read_words(scratch.path() / "ALPHA_2024101120000.raw");
  const auto b = read_words(scratch.path() / "BRAVO_2024101120000.raw");
  const double bound = 5.0 / std::sqrt(4.0 * a.size());
  for (int channel : {0, 1, 3}) EXPECT_NEAR(channel_correlation(a, b, channel), 0.0, bound);
  // Both at the geocentre: the common half of the power lines up sample by
  // sample; two-bit sampling keeps about 0.889 of a 0.5 correlation.
  EXPECT_NEAR(channel_correlation(a, b, 2), 0.444, 0.01);
}

TEST(SimulatedFiles, BadInputIsRefusedWithAMessage) {
  temporary_folder scratch;
  std::string error;
  {
    auto tables = two_station_tables();
    simulation_options options;
    options.process_number = 2;
    EXPECT_FALSE(simulate(*tables, options, scratch.path(), error));
    EXPECT_NE(error.find("process 2 is not in the schedule"), std::string::npos) << error;
  }
  {
    auto tables = two_station_tables();
    tables->terminal.channels = 3;
    EXPECT_FALSE(simulate(*tables, simulation_options{}, scratch.path(), error));
    EXPECT_NE(error.find("not a recording mode"), std::string::npos) << error;
  }
  {
    auto tables = two_station_tables();
    tables->streams[0].channel = 5;
    EXPECT_FALSE(simulate(*tables, simulation_options{}, scratch.path(), error));
    EXPECT_NE(error.find("no stream within the terminal's channels"), std::string::npos) << error;
  }
  {
    auto tables = two_station_tables();
    std::memcpy(tables->processes[0].source, "NONE", 4);
    std::memcpy(tables->streams[0].source, "NONE", 4);
    EXPECT_FALSE(simulate(*tables, simulation_options{}, scratch.path(), error));
    EXPECT_NE(error.find("is not in the schedule"), std::string::npos) << error;
  }
  {
    auto tables = two_station_tables();
    simulation_options options;
    options.correlation = 1.5;
    EXPECT_FALSE(simulate(*tables, options, scratch.path(), error));
  }
  {
    auto tables = two_station_tables();
    simulation_options options;
    EXPECT_FALSE(simulate(*tables, options, scratch.path() / "missing" / "dir", error));
    EXPECT_NE(error.find("can't create the raw file"), std::string::npos) << error;
  }
  EXPECT_TRUE(fs::is_empty(scratch.path()));
}

}  // namespace
}  // namespace korva::sim
