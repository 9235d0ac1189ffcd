// A private scratch folder for one test: created empty under the system's
// temporary directory, removed with everything in it when the test is done.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace korva::testing {

class temporary_folder {
 public:
  temporary_folder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "korva-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      throw std::filesystem::filesystem_error("mkdtemp", pattern, std::error_code(errno, std::generic_category()));
    }
    path_ = pattern;
  }
  ~temporary_folder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  temporary_folder(const temporary_folder&) = delete;
  temporary_folder& operator=(const temporary_folder&) = delete;

  const std::filesystem::path& path() const { return path_; }

  // Writes text to a file of the folder (subfolders must exist) and returns
  // its path.
  std::string write(const std::string& name, const std::string& text) const {
    const std::filesystem::path file = path_ / name;
    std::ofstream(file, std::ios::binary) << text;
    return file.string();
  }

 private:
  std::filesystem::path path_;
};

}  // namespace korva::testing
