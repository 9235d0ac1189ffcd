// A small correlation run for tests: a schedule built in code, raw files
// written in the recorder format (the words of each second from MT19937
// seeded with the second, as the generator writes them), correlated by the
// correlator's own run loop.
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
#include "correlator.h"
#include "run_loop.h"

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
  message_buffer message;  // the line a failed run printed last
  std::string dir;

  void SetUp() override {
    std::memset(tables.get(), 0, sizeof *tables);
    char pattern[] = "/tmp/correlation_test.XXXXXX";
    dir = mkdtemp(pattern);
  }
  void TearDown() override { fs::remove_all(dir); }

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

  // Every process of the schedule through the run loop with the given worker
  // count; the output files go to dir/<cor_name>. Returns 1, or -1 with the
  // failure line the run printed in message.
  int32_t run(int threads, const std::string& cor_name = "cor") {
    const std::string cor_dir = dir + "/" + cor_name;
    fs::create_directories(cor_dir);
    run_settings settings;
    std::snprintf(settings.raw_dir, sizeof settings.raw_dir, "%s", dir.c_str());
    std::snprintf(settings.cor_dir, sizeof settings.cor_dir, "%s", cor_dir.c_str());
    settings.thread_count = threads;
    working_memory memory;
    if (korva_memory_allocate(memory, threads, message) != 1) return -1;
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const int status = run_processes(settings, *tables, std::move(memory), out, err);
    std::string failure = last_line(err);
    if (failure.empty()) failure = last_line(out);
    std::fclose(out);
    std::fclose(err);
    std::snprintf(message.text, sizeof message.text, "%s", failure.c_str());
    return status == exit_success ? 1 : -1;
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
  // The last line written to a stream (progress lines end in a carriage return).
  static std::string last_line(std::FILE* stream) {
    std::rewind(stream);
    std::string text;
    for (int c; (c = std::fgetc(stream)) != EOF;) text += static_cast<char>(c);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    const std::size_t start = text.find_last_of("\r\n");
    return start == std::string::npos ? text : text.substr(start + 1);
  }
};

// Correlation coefficient of bin m of a cross spectrum with its auto spectra.
inline std::complex<double> coefficient(const cor_reader::record& cross, const cor_reader::record& auto_a,
                                        const cor_reader::record& auto_b, size_t m) {
  return std::complex<double>(cross.spectrum[m]) /
         std::sqrt(double(auto_a.spectrum[m].real()) * double(auto_b.spectrum[m].real()));
}

}  // namespace korva_test
