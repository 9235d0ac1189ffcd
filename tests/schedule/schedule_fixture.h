// Helpers of the schedule tests: zeroed tables on the heap and schedule files
// written into a private temporary folder.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "schedule.h"

namespace korva::testing {

// The tables are large (a thousand sources and processes): never on the stack.
inline std::unique_ptr<schedule_tables> zeroed_tables() { return std::make_unique<schedule_tables>(); }

class temporary_folder {
 public:
  temporary_folder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "korva-test-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~temporary_folder() { std::filesystem::remove_all(path_); }
  const std::filesystem::path& path() const { return path_; }

  // Writes text to a file of the folder and returns its path.
  std::string write(const std::string& name, const std::string& text) const {
    const std::filesystem::path file = path_ / name;
    std::ofstream(file, std::ios::binary) << text;
    return file.string();
  }

 private:
  std::filesystem::path path_;
};

}  // namespace korva::testing
