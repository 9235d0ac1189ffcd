// Shared by the korva_mpi tests: a job of several processes of unequal
// length, two streams with different FFT sizes and periods per second, three
// stations; files of two output folders compared byte for byte.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

namespace korva::testing {

// The schedule text, kept in tests/mpi/job.sch.
inline std::string job_schedule() {
  std::ifstream in(std::string(KORVA_SOURCE_DIR) + "/tests/mpi/job.sch", std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Raw files the job reads, by station and process start.
inline const char* const job_raw_files[] = {
    "ALPHA_2024101120000.raw", "BRAVO_2024101120000.raw", "CHARLIE_2024101120000.raw",
    "ALPHA_2024101120100.raw", "BRAVO_2024101120100.raw", "CHARLIE_2024101120100.raw",
    "ALPHA_2024101120200.raw", "BRAVO_2024101120200.raw", "CHARLIE_2024101120200.raw",
    "ALPHA_2024101120300.raw", "CHARLIE_2024101120300.raw"};

inline std::string file_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::set<std::string> file_names(const std::filesystem::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.insert(entry.path().filename());
  return names;
}

// Same file names, and every file with the same bytes.
inline void expect_same_files(const std::filesystem::path& expected, const std::filesystem::path& actual,
                              const std::string& context) {
  const std::set<std::string> names = file_names(expected);
  EXPECT_FALSE(names.empty()) << context;
  EXPECT_EQ(names, file_names(actual)) << context;
  for (const std::string& name : names) {
    EXPECT_TRUE(file_bytes(expected / name) == file_bytes(actual / name))
        << context << ": " << name << " differs (" << file_bytes(expected / name).size() << " and "
        << file_bytes(actual / name).size() << " bytes)";
  }
}

}  // namespace korva::testing
