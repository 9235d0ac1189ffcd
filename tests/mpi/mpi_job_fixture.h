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

inline const char* const job_schedule =
    "$Terminal TESTMODE 1Msps/2bit/2ch\n"
    "$Station A ALPHA -3948382.481 3313086.283 3744779.842\n"
    "$Station B BRAVO -3957456.132 3250691.115 3789615.974\n"
    "$Station C CHARLIE -3934176.332 3360104.019 3717741.058\n"
    "$Source SRC1 12h29m06.6997 +02d03'08.598\n"
    "$Stream CH1 SRC1 2.0e9 1 1024 4\n"
    "$Stream CH2 SRC1 2.1e9 2 256 5\n"
    "$Process 2024/101 12:00:00 4 SRC1 ABC\n"
    "$Process 2024/101 12:01:00 7 SRC1 ABC\n"
    "$Process 2024/101 12:02:00 0 SRC1 ABC\n"
    "$Process 2024/101 12:03:00 2 SRC1 AC\n";

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
