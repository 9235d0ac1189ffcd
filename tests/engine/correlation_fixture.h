// A small correlation run for tests: a schedule built in code, raw files
// written in the recorder format (the words of each second from MT19937
// seeded with the second, as the generator writes them), working memory,
// plans and the run loop's steps for one process.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <complex>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "cor_reader.h"
#include "correlation.h"
#include "spectrum_kernels.h"

namespace korva_test {

using namespace korva;
namespace fs = std::filesystem;

constexpr int32_t epoch_2020 = 1577836800;  // 2020/001 00:00:00 UTC

// Word g (counted from the file start) of a recording whose second e holds
// the outputs of MT19937 seeded with e ^ seed_xor.
inline std::vector<uint32_t> recorded_words(int32_t epoch, int seconds, uint32_t words_per_second,
                                            uint32_t seed_xor = 0) {
  std::vector<uint32_t> words;
  for (int k = 0; k < seconds; ++k) {
    std::mt19937 generator(static_cast<uint32_t>(epoch + k) ^ seed_xor);
    for (uint32_t j = 0; j < words_per_second; ++j) words.push_back(generator());
  }
  return words;
}

struct correlation_run : ::testing::Test {
  std::unique_ptr<schedule_tables> tables = std::make_unique<schedule_tables>();
  std::unique_ptr<cor_file_table> files = std::make_unique<cor_file_table>();
  working_memory memory{};
  fft_plan_table plans{};
  raw_descriptor_table descriptors;
  raw_window_table windows;
  std::unique_ptr<correlation_context> context = std::make_unique<correlation_context>();
  message_buffer message;
  std::string dir;

  static void SetUpTestSuite() { build_phase_tables(); }

  void SetUp() override {
    std::memset(tables.get(), 0, sizeof *tables);
    char pattern[] = "/tmp/correlation_test.XXXXXX";
    dir = mkdtemp(pattern);
    for (int t = 0; t < max_threads; ++t) {
      memory.sample_buffer[t] = allocate();
      memory.fft_buffer[t] = allocate();
      for (int i = 0; i < max_stations; ++i) {
        memory.station_spectrum[t][i] = allocate();
        for (int j = i; j < max_stations; ++j) memory.baseline_spectrum[t][i][j] = allocate();
      }
    }
    *context = {tables.get(), windows, files.get(), &memory, &plans, {}};
  }
  void TearDown() override {
    for (float* buffer : owned) std::free(buffer);
    fs::remove_all(dir);
  }

  // 2 bits, 1 channel at the given rate; stations Alpha (A) and Bravo (B) at
  // the geocentre with zero clocks; one process of `seconds` from 2020/001.
  void set_up_schedule(int32_t sample_rate, int seconds) {
    tables->terminal = {"TEST", sample_rate, 2, 1};
    std::strcpy(tables->codes[0].code, "A");
    std::strcpy(tables->stations[0].name, "Alpha");
    std::strcpy(tables->codes[1].code, "B");
    std::strcpy(tables->stations[1].name, "Bravo");
    tables->sources[0] = {"3C273", 3.2576, 0.0350};
    tables->processes[0] = {epoch_2020, seconds, "3C273", "AB"};
  }
  void add_stream(int s, const char* name, int32_t fft_points, int32_t pp, double frequency = 8.4e9) {
    stream_info& st = tables->streams[s];
    std::strcpy(st.name, name);
    std::strcpy(st.source, "3C273");
    st.frequency = frequency, st.channel = 1, st.fft_points = fft_points, st.pp_per_second = pp;
  }
  uint32_t words_per_second() const { return static_cast<uint32_t>(tables->terminal.sample_rate) * 2 / 32; }

  void write_raw(const char* station, const std::vector<uint32_t>& words) {
    std::ofstream out(dir + "/" + station + "_2020001000000.raw", std::ios::binary);
    out.write(reinterpret_cast<const char*>(words.data()), static_cast<std::streamsize>(words.size() * 4));
  }

  // The run loop's steps for process 0 with the given worker count; the
  // output files go to dir/<cor_name>. Returns the first failing status.
  int32_t run(int threads, const std::string& cor_name = "cor") {
    const std::string cor_dir = dir + "/" + cor_name;
    fs::create_directories(cor_dir);
    const int streams = stream_count(*tables);
    for (int t = 0; t < threads; ++t)
      for (int s = 0; s < streams; ++s)
        plans.plan[t][s] = fftwf_plan_dft_r2c_1d(tables->streams[s].fft_points, memory.sample_buffer[t],
                                                 reinterpret_cast<fftwf_complex*>(memory.fft_buffer[t]),
                                                 FFTW_ESTIMATE);
    const process_info& process = tables->processes[0];
    int32_t status = korva_open_raw_file(process, *tables, dir.c_str(), descriptors, message);
    if (status == 1) status = korva_open_cor_file(process, *tables, cor_dir.c_str(), *files, message);
    message_buffer ignored;
    for (int32_t t = process.epoch; status == 1 && t < process.epoch + process.length; ++t) {
      status = korva_mmap_raw_file(process, *tables, descriptors, windows, t, message);
      if (status != 1) break;
      status = correlate_second(*context, 0, t, threads, message);
      korva_umap_raw_file(process, *tables, descriptors, windows, t, ignored);
    }
    if (korva_close_cor_file(process, *tables, cor_dir.c_str(), *files, ignored) != 1 && status == 1) {
      status = -1;
      message = ignored;
    }
    korva_close_raw_file(process, *tables, dir.c_str(), descriptors, ignored);
    for (int t = 0; t < threads; ++t)
      for (int s = 0; s < streams; ++s) fftwf_destroy_plan(plans.plan[t][s]);
    return status;
  }

  std::string cor_path(const char* a, const char* b, const char* stream, const std::string& cor_name = "cor") {
    return dir + "/" + cor_name + "/" + a + "_" + b + "_2020001000000_" + stream + ".cor";
  }
  cor_reader::cor_file read(const char* a, const char* b, const char* stream, const std::string& cor_name = "cor") {
    cor_reader::cor_file f;
    EXPECT_TRUE(cor_reader::read(cor_path(a, b, stream, cor_name), f)) << cor_path(a, b, stream, cor_name);
    return f;
  }

 private:
  std::vector<float*> owned;
  float* allocate() {
    float* buffer = static_cast<float*>(std::aligned_alloc(16, buffer_bytes));
    std::memset(buffer, 0, buffer_bytes);
    owned.push_back(buffer);
    return buffer;
  }
};

// Correlation coefficient of bin m of a cross spectrum with its auto spectra.
inline std::complex<double> coefficient(const cor_reader::record& cross, const cor_reader::record& auto_a,
                                        const cor_reader::record& auto_b, size_t m) {
  return std::complex<double>(cross.spectrum[m]) /
         std::sqrt(double(auto_a.spectrum[m].real()) * double(auto_b.spectrum[m].real()));
}

}  // namespace korva_test
