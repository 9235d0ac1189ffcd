// Whole korva_corr runs with every kernel width this CPU has, forced through
// KORVA_KERNELS: ten stations (all 55 pairs), three streams of different FFT
// sizes and channels, eight workers. Every output file must be byte for byte
// the one the portable SSE path writes.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "subprocess.h"
#include "../schedule/schedule_fixture.h"
#include "kernel_paths.h"

namespace korva {
namespace {

namespace fs = std::filesystem;

const char* const station_names[10] = {"ALPHA", "BRAVO", "CHARLIE", "DELTA", "ECHO",
                                       "FOXTROT", "GOLF", "HOTEL", "INDIA", "JULIET"};

// 1 Msps, 2 bits, 2 channels: 500,000 bytes per second and station. Some
// stations carry clock offsets and rates, so residual delays and phase steps
// vary from segment to segment.
std::string schedule_text() {
  return "$Terminal PATHS 1Msps/2bit/2ch\n"
         "$Station A ALPHA -3957630.431 3310266.483 3737204.070 2020/001 00:00:00 1.5e-7 2.0e-13 0 0 0\n"
         "$Station B BRAVO -3870599.648 3428031.944 3724523.797\n"
         "$Station C CHARLIE -3571949.281 3887188.108 3567681.302 2020/001 00:00:00 -3.0e-8 0 0 0 0\n"
         "$Station D DELTA 1130730.245 -4831245.953 3994228.228\n"
         "$Station E ECHO -3.6e6 3.5e6 3.8e6\n"
         "$Station F FOXTROT -4.0e6 3.0e6 3.9e6 2020/001 00:00:00 4.1e-7 -1.0e-12 0 0 0\n"
         "$Station G GOLF -3.3e6 3.8e6 3.9e6\n"
         "$Station H HOTEL -3.8e6 3.6e6 3.4e6\n"
         "$Station I INDIA -3.4e6 3.4e6 4.1e6\n"
         "$Station J JULIET -3.1e6 3.9e6 3.9e6 2020/001 00:00:00 -2.2e-7 0 0 0 0\n"
         "$Source 3C273 12h29m06.6997s +02d03'08.598\n"
         "$Stream X1 3C273 8.212e9 1 256 4\n"
         "$Stream X2 3C273 8.228e9 2 1024 2\n"
         "$Stream X3 3C273 8.244e9 1 4096 1\n"
         "$Process 2020/001 00:00:00 2 3C273 ABCDEFGHIJ\n";
}

// Two seconds per station: a common random signal with a station's own
// random bits mixed into some words, so that pairs correlate partly.
void write_raw_files(const fs::path& folder) {
  constexpr std::size_t words = 2 * 500000 / 4;
  std::mt19937 common(1u);
  std::vector<uint32_t> shared(words);
  for (uint32_t& w : shared) w = common();
  for (int s = 0; s < 10; ++s) {
    std::mt19937 own(100u + static_cast<uint32_t>(s));
    std::vector<uint32_t> data(shared);
    for (uint32_t& w : data) w ^= own() & own();
    std::ofstream(folder / (std::string(station_names[s]) + "_2020001000000.raw"), std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size() * 4));
  }
}

class KernelPathRuns : public ::testing::Test {
 protected:
  testing::temporary_folder folder;

  void SetUp() override {
    folder.write("paths.sch", schedule_text());
    write_raw_files(folder.path());
  }

  // Correlates the schedule with the kernels of path into folder/cor-<path>.
  fs::path correlate(kernel_path path) {
    const fs::path cor = folder.path() / (std::string("cor-") + kernel_path_name(path));
    fs::create_directories(cor);
    const testing::program_result r =
        testing::run_program(KORVA_CORR_PATH, {"--schedule=paths.sch", "--raw-dir=.", "--cor-dir=" + cor.string(), "--multi=8"},
                             folder.path(), {{"KORVA_KERNELS", kernel_path_name(path)}});
    EXPECT_EQ(r.status, 0) << kernel_path_name(path);
    EXPECT_EQ(r.err, "") << kernel_path_name(path);
    return cor;
  }
};

TEST_F(KernelPathRuns, EveryWidthWritesTheBytesOfTheSsePath) {
  if (fastest_kernel_path() == kernel_path::sse) GTEST_SKIP() << "this CPU has no kernels wider than SSE";
  const fs::path reference = correlate(kernel_path::sse);
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(reference)) files.push_back(entry.path());
  ASSERT_EQ(files.size(), 55u * 3u);  // every pair of ten stations, three streams
  // Auto-power of the largest FFT: 256-byte header, then two periods of a
  // 128-byte record header and 2048 bins; the spectrum is not empty.
  const std::string auto_power = testing::read_file(reference / "ALPHA_ALPHA_2020001000000_X3.cor");
  ASSERT_EQ(auto_power.size(), 256u + 2 * (128 + 8 * 2048));
  EXPECT_NE(auto_power.substr(256 + 128, 8 * 2048), std::string(8 * 2048, '\0'));

  for (kernel_path path : all_kernel_paths) {
    if (path == kernel_path::sse || !kernel_path_supported(path)) continue;
    const fs::path cor = correlate(path);
    int compared = 0;
    for (const fs::path& file : files) {
      ASSERT_TRUE(fs::exists(cor / file.filename())) << kernel_path_name(path) << " " << file.filename();
      EXPECT_TRUE(testing::read_file(file) == testing::read_file(cor / file.filename()))
          << kernel_path_name(path) << " differs in " << file.filename();
      ++compared;
    }
    EXPECT_EQ(compared, 165) << kernel_path_name(path);
    EXPECT_EQ(std::distance(fs::directory_iterator(cor), fs::directory_iterator()), 165);
  }
}

}  // namespace
}  // namespace korva
