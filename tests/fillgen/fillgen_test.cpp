// Runs the built fillgen in a fresh directory and checks its files, output
// texts and exit statuses.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "subprocess.h"
#include "temporary_folder.h"

namespace {

namespace fs = std::filesystem;

const char usage[] =
    "Name\n\t fillgen - Create KORVA Raw-File by the random generator\n"
    "Format\n\t fillgen   [--help] [--version] [--station=name]\n\t [--epoch='YYYY/DDD HH:MM:SS'] [--block=words] [--length=blocks]\n"
    "Option\n"
    "\t--station  Station Name is assigned\n"
    "\t--epoch    Starting epoch is assigned\n"
    "\t--block    Word size [1word=32bit] in 1-second is assigned\n"
    "\t--length   Number of seconds is assigned\n"
    "\t--help     Display this information\n"
    "\t--version  Display the programs version\n";

constexpr int64_t epoch_2008_101 = 1207828800;  // 2008/101 12:00:00 UTC

using korva::testing::program_result;
using korva::testing::read_file;

// Little-endian 32-bit word at byte offset of the text, read byte by byte.
uint32_t word_at(const std::string& bytes, std::size_t offset) {
  uint32_t w = 0;
  for (int b = 3; b >= 0; --b) w = (w << 8) | static_cast<unsigned char>(bytes[offset + b]);
  return w;
}

class Fillgen : public ::testing::Test {
 protected:
  // Runs fillgen in the work folder; address_space_limit > 0 caps its memory.
  program_result run(const std::vector<std::string>& args, rlim_t address_space_limit = 0) {
    return korva::testing::run_program(FILLGEN_PATH, args, work, {}, address_space_limit);
  }
  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(work)) names.push_back(entry.path().filename());
    return names;
  }

  korva::testing::temporary_folder folder;
  const fs::path& work = folder.path();
};

TEST_F(Fillgen, NoArgumentsHelpAndVersionPrintAndExitZero) {
  program_result r = run({});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, usage);
  EXPECT_EQ(r.err, "");
  r = run({"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, usage);
  r = run({"--version", "--station=X"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "fillgen [Version 1.0.0.0]\n");
  EXPECT_TRUE(files().empty());
}

TEST_F(Fillgen, DefaultSecondIsTheMt19937SequenceOfSeedZero) {
  const program_result r = run({"--station", "Dummy"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  const std::string bytes = read_file(work / "Dummy_1970001000000.raw");
  ASSERT_EQ(bytes.size(), 128000000u);
  std::mt19937 generator(0);
  const uint32_t first = static_cast<uint32_t>(generator());
  EXPECT_EQ(static_cast<unsigned char>(bytes[0]), first & 0xFFu);  // lowest byte first
  EXPECT_EQ(word_at(bytes, 0), first);
  std::size_t first_mismatch = 0;
  for (std::size_t offset = 4; offset < bytes.size() && first_mismatch == 0; offset += 4) {
    if (word_at(bytes, offset) != static_cast<uint32_t>(generator())) first_mismatch = offset;
  }
  EXPECT_EQ(first_mismatch, 0u) << "first differing word at byte " << first_mismatch;
}

TEST_F(Fillgen, EverySecondIsReseededWithItsUtcSecond) {
  const program_result r = run({"--station=Tsukuba", "--epoch", "2008/101 12:00:00", "--length", "3",
                            "--block", "2"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string bytes = read_file(work / "Tsukuba_2008101120000.raw");
  ASSERT_EQ(bytes.size(), 24u);
  for (int k = 0; k < 3; ++k) {
    std::mt19937 generator(static_cast<uint32_t>(epoch_2008_101 + k));
    EXPECT_EQ(word_at(bytes, 8 * k), static_cast<uint32_t>(generator())) << "second " << k;
    EXPECT_EQ(word_at(bytes, 8 * k + 4), static_cast<uint32_t>(generator())) << "second " << k;
  }
}

TEST_F(Fillgen, EpochBefore1970SeedsWithTheLow32Bits) {
  const program_result r = run({"--station=Old", "--epoch=1969/365 23:59:59", "--block=1"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string bytes = read_file(work / "Old_1969365235959.raw");
  ASSERT_EQ(bytes.size(), 4u);
  std::mt19937 generator(0xFFFFFFFFu);
  EXPECT_EQ(word_at(bytes, 0), static_cast<uint32_t>(generator()));
}

TEST_F(Fillgen, ZeroOrNegativeLengthCreatesAnEmptyFile) {
  for (const char* length : {"0", "-2"}) {
    const program_result r = run({"--station=E", "--length", length});
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(fs::exists(work / "E_1970001000000.raw"));
    EXPECT_EQ(fs::file_size(work / "E_1970001000000.raw"), 0u);
    fs::remove(work / "E_1970001000000.raw");
  }
}

TEST_F(Fillgen, BadOptionsAreRefusedWithStatusOneAndNoFile) {
  struct refusal {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<refusal> refusals = {
      {{"--block=0"}, "Fillgen : Block [0] Out of Range [1 - 1073741823 words] Error!\n"},
      {{"--block=-1"}, "Fillgen : Block [-1] Out of Range [1 - 1073741823 words] Error!\n"},
      {{"--block=1073741824"}, "Fillgen : Block [1073741824] Out of Range [1 - 1073741823 words] Error!\n"},
      {{"--block=1k"}, "Fillgen : Invalid Block [1k] Error!\n"},
      {{"--length="}, "Fillgen : Invalid Length [] Error!\n"},
      {{"--epoch", "2008/101 12:00"}, "Fillgen : Invalid Epoch [2008/101 12:00] Error!\n"},
      {{"--epoch", "2007/366 00:00:00"}, "Fillgen : Invalid Epoch [2007/366 00:00:00] Error!\n"},
      {{"--station=X", "extra"}, "Fillgen : Unexpected Argument [extra] Error!\n"},
  };
  for (const refusal& c : refusals) {
    const program_result r = run(c.args);
    EXPECT_EQ(r.status, 1) << c.args[0];
    EXPECT_EQ(r.err, c.message);
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(run({"--unknown"}).status, 1);
  EXPECT_EQ(run({"--station"}).status, 1);
  EXPECT_TRUE(files().empty());
}

// The station name is the first part of the file name: with a '/' the file
// would land in another directory.
TEST_F(Fillgen, StationNameWithASlashIsRefused) {
  fs::create_directory(work / "sub");
  const program_result r = run({"--station=sub/X", "--block=1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Fillgen : Station Name [sub/X] Contains '/' Error!\n");
  EXPECT_TRUE(fs::is_empty(work / "sub"));
  EXPECT_EQ(run({"--station=../X", "--block=1"}).status, 1);
  EXPECT_FALSE(fs::exists(work.parent_path() / "X_1970001000000.raw"));
}

TEST_F(Fillgen, StationNameIsCutAt255Characters) {
  // The cut name with its epoch is too long for one file name: creating fails.
  const std::string cut(255, 'S');
  program_result r = run({"--station=" + std::string(300, 'S'), "--block=1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Fillgen : Create Raw-File [" + cut + "_1970001000000.raw] Error!\n");
  // 236 characters give a 255-character file name, which is still fine.
  const std::string longest(236, 'L');
  r = run({"--station=" + longest, "--block=1"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(fs::file_size(work / (longest + "_1970001000000.raw")), 4u);
}

TEST_F(Fillgen, FailuresToCreateOrWriteExitOne) {
  fs::create_directory(work / "X_1970001000000.raw");  // a directory cannot be opened for writing
  program_result r = run({"--station=X", "--block=1"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Fillgen : Create Raw-File [X_1970001000000.raw] Error!\n");

  // A full device: the write of a whole second fails, and so does the close
  // that flushes a small one.
  fs::create_symlink("/dev/full", work / "F_1970001000000.raw");
  for (const char* block : {"262144", "2"}) {
    r = run({"--station=F", "--block", block});
    EXPECT_EQ(r.status, 1) << block;
    EXPECT_EQ(r.err, "Fillgen : Write Raw-File [F_1970001000000.raw] Error!\n") << block;
  }
}

#if !defined(__SANITIZE_ADDRESS__)
TEST_F(Fillgen, AllocationFailureExitsOneAndLeavesTheEmptyFile) {
  const program_result r = run({"--station=M", "--block=1073741823"}, rlim_t{256} << 20);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Fillgen : Memory Allocation Error!\n");
  ASSERT_TRUE(fs::exists(work / "M_1970001000000.raw"));
  EXPECT_EQ(fs::file_size(work / "M_1970001000000.raw"), 0u);
}
#endif

}  // namespace
