// Options, environment and the usage and version texts of korva_corr.
#include "command_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace korva {
namespace {

// Captures what a call writes to a stream.
class captured_stream {
 public:
  captured_stream() : file_(open_memstream(&data_, &size_)) {}
  ~captured_stream() {
    std::fclose(file_);
    std::free(data_);
  }
  std::FILE* file() { return file_; }
  std::string text() {
    std::fflush(file_);
    return std::string(data_, size_);
  }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* file_;
};

class CommandLine : public ::testing::Test {
 protected:
  run_settings settings;
  captured_stream out, err;

  command_outcome read(std::vector<std::string> args) {
    storage_ = std::move(args);
    storage_.insert(storage_.begin(), "korva_corr");
    std::vector<char*> argv;
    for (std::string& a : storage_) argv.push_back(a.data());
    argv.push_back(nullptr);
    return read_command_line(static_cast<int>(argv.size()) - 1, argv.data(), settings, out.file(), err.file());
  }

 private:
  std::vector<std::string> storage_;
};

const std::string usage_text =
    "Name\n\t korva_corr - Correlation processing is executed according to a schedule.\n"
    "Format\n\t korva_corr   [--help] [--version] [--schedule=<file>]\n"
    "\t [--raw-dir=<directory>] [--cor-dir=<directory>] [--multi=<1\xE3\x80\x9C" "8>]\n"
    "Option\n"
    "\t--schedule Correlation schedule file is assigned\n"
    "\t--raw-dir  Directory of raw-file is assigned\n"
    "\t--cor-dir  Directory of cor-file is assigned\n"
    "\t--multi    The number of CPUs to be used is assigned\n"
    "\t--help     Display this information\n"
    "\t--version  Display the programs version\n";

TEST_F(CommandLine, UsageAndVersionTexts) {
  print_usage(out.file());
  EXPECT_EQ(out.text(), usage_text);
  captured_stream version;
  print_version(version.file());
  EXPECT_EQ(version.text(), "korva_corr [Version 1.0.0.0]\n");
}

TEST_F(CommandLine, OptionsWithEqualsSignOrNextWord) {
  ASSERT_EQ(read({"--schedule=a.sch", "--raw-dir", "/data/raw", "--cor-dir=/data/cor", "--multi", "3"}),
            command_outcome::run);
  EXPECT_STREQ(settings.schedule_path, "a.sch");
  EXPECT_STREQ(settings.raw_dir, "/data/raw");
  EXPECT_STREQ(settings.cor_dir, "/data/cor");
  EXPECT_EQ(settings.thread_count, 3);
  EXPECT_EQ(out.text(), "");
  EXPECT_EQ(err.text(), "");
}

TEST_F(CommandLine, LaterOccurrenceWins) {
  ASSERT_EQ(read({"--multi=2", "--schedule=a", "--multi=5", "--schedule=b"}), command_outcome::run);
  EXPECT_EQ(settings.thread_count, 5);
  EXPECT_STREQ(settings.schedule_path, "b");
}

TEST_F(CommandLine, HelpAndVersionEndParsingWhereTheyStand) {
  EXPECT_EQ(read({"--help", "--multi=0"}), command_outcome::finished);
  EXPECT_EQ(out.text(), usage_text);
  EXPECT_EQ(err.text(), "");
}

TEST_F(CommandLine, VersionAfterARefusalIsNotReached) {
  EXPECT_EQ(read({"--multi=0", "--version"}), command_outcome::failed);
  EXPECT_EQ(out.text(), "");
  EXPECT_EQ(err.text(), "korva_corr : Number of threads [--multi=0] is not an integer of 1 or more\n");
}

TEST_F(CommandLine, UnknownOptionsMissingArgumentsAndStrayWordsAreRefused) {
  struct refusal {
    std::vector<std::string> words;
    const char* named;  // what the one-line message must name
  };
  for (const refusal& r : {refusal{{"--cor_dir=x", "--multi=4"}, "cor_dir"},
                           refusal{{"--schedule=s", "--cor-dir"}, "cor-dir"},
                           refusal{{"--multi=4", "positional"}, "positional"}}) {
    ::testing::internal::CaptureStderr();  // getopt_long names unknown options there
    EXPECT_EQ(read(r.words), command_outcome::failed) << r.named;
    const std::string parser_text = ::testing::internal::GetCapturedStderr();
    const std::string text = parser_text + err.text();
    EXPECT_NE(text.find(r.named), std::string::npos) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    EXPECT_EQ(out.text(), "");
  }
}

TEST(ThreadCount, WholeIntegersOfOneOrMoreAndEightAtMost) {
  struct accepted_case {
    const char* text;
    int32_t count;
  };
  for (const accepted_case c : {accepted_case{"1", 1}, accepted_case{"8", 8}, accepted_case{"9", 8},
                                accepted_case{"20", 8}, accepted_case{"+2", 2}, accepted_case{"007", 7},
                                accepted_case{"99999999999999999999999", 8}}) {
    int32_t count = -1;
    EXPECT_TRUE(read_thread_count(c.text, count)) << c.text;
    EXPECT_EQ(count, c.count) << c.text;
  }
  for (const char* text : {"0", "-1", "-20", "", "abc", "4x", " 4", "4 ", "1.5", "+", "0x4"}) {
    int32_t count = 3;
    EXPECT_FALSE(read_thread_count(text, count)) << text;
    EXPECT_EQ(count, 3);
  }
}

TEST_F(CommandLine, PathsOfTwoHundredFiftyFiveFitAndLongerAreRefused) {
  const std::string fits(255, 'p'), too_long(256, 'p');
  ASSERT_EQ(read({"--schedule=" + fits, "--raw-dir=" + fits, "--cor-dir=" + fits}), command_outcome::run);
  EXPECT_EQ(settings.schedule_path, fits);
  EXPECT_EQ(settings.cor_dir, fits);
  for (const char* option : {"--schedule", "--raw-dir", "--cor-dir"}) {
    run_settings fresh;
    settings = fresh;
    captured_stream option_err;
    std::string arg = std::string(option) + "=" + too_long;
    std::vector<char*> argv{const_cast<char*>("korva_corr"), arg.data(), nullptr};
    EXPECT_EQ(read_command_line(2, argv.data(), settings, out.file(), option_err.file()), command_outcome::failed);
    EXPECT_EQ(option_err.text(),
              std::string("korva_corr : Path of ") + option + " is longer than 255 characters [" + too_long + "]\n");
    EXPECT_EQ(settings.schedule_path[0], '\0');  // nothing cut and kept
    EXPECT_EQ(settings.raw_dir[0], '\0');
  }
}

// ---- environment ------------------------------------------------------------

class Environment : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("RAW-FILE");
    unsetenv("COR-FILE");
  }
  void TearDown() override { SetUp(); }
  run_settings settings;
};

TEST_F(Environment, FillsOnlyEmptyDirectories) {
  setenv("RAW-FILE", "/env/raw", 1);
  setenv("COR-FILE", "/env/cor", 1);
  std::strcpy(settings.cor_dir, "/option/cor");
  ASSERT_EQ(read_environment(settings, stderr), command_outcome::run);
  EXPECT_STREQ(settings.raw_dir, "/env/raw");
  EXPECT_STREQ(settings.cor_dir, "/option/cor");
}

TEST_F(Environment, NoDirectoryMeansTheCurrentOne) {
  setenv("COR-FILE", "", 1);
  ASSERT_EQ(read_environment(settings, stderr), command_outcome::run);
  EXPECT_STREQ(settings.raw_dir, ".");
  EXPECT_STREQ(settings.cor_dir, ".");
}

TEST_F(Environment, OverlongValueIsRefusedAndNamed) {
  const std::string too_long(300, 'e');
  setenv("COR-FILE", too_long.c_str(), 1);
  captured_stream err;
  EXPECT_EQ(read_environment(settings, err.file()), command_outcome::failed);
  EXPECT_EQ(err.text(), "korva_corr : Path of COR-FILE is longer than 255 characters [" + too_long + "]\n");
}

}  // namespace
}  // namespace korva
