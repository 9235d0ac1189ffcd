// A run that is asked to stop (SIGTERM, a closed standard output) or whose
// raw file shrinks under it ends at a record boundary with a message, and
// every output file holds whole records.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "temporary_folder.h"
#include "raw_file.h"
#include "run_signals.h"
#include "subprocess.h"

namespace korva {
namespace {

using testing::temporary_folder;

// 1 Msps, 2 bits, 1 channel; 100 periods per second of 1024-point FFTs, so
// a 10-second process has 1000 periods, each printing a progress line.
constexpr std::size_t bytes_per_second = 250000;
constexpr std::size_t header_bytes = 256;
constexpr std::size_t record_bytes = 128 + 512 * 8;
const std::string schedule =
    "$Terminal TEST 1Msps/2bit/1ch\n"
    "$Station A ALPHA -3950237.0 3362104.0 3729440.0\n"
    "$Station B BRAVO -3502544.0 3950966.0 3566381.0\n"
    "$Source SRC 12h29m06.6997 +02d03'08.598\n"
    "$Stream CH1 SRC 8.192e9 1 1024 100\n"
    "$Process 2020/001 00:00:00 10 SRC AB\n";

struct stopped_run {
  int signal_status = 0;  // the exit status, or -1 when killed by a signal
  std::string err;
};

class RunStop : public ::testing::Test {
 protected:
  temporary_folder folder;

  void SetUp() override {
    folder.write("test.sch", schedule);
    for (const char* name : {"ALPHA_2020001000000.raw", "BRAVO_2020001000000.raw"})
      folder.write(name, std::string(10 * bytes_per_second, '\x5a'));
  }

  // Starts korva_corr with standard output on a pipe, reads its first
  // progress line, then calls act(pid, read end); drains and waits.
  template <typename Act>
  stopped_run run_and(Act act) {
    int out[2];
    if (pipe(out) != 0) return {};
    const std::string err_path = (folder.path() / "stderr").string();
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
      const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (err < 0 || dup2(out[1], 1) < 0 || dup2(err, 2) < 0 || chdir(folder.path().c_str()) != 0) _exit(127);
      close(out[0]);
      execl(KORVA_CORR_PATH, KORVA_CORR_PATH, "--schedule=test.sch", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    for (char c = 0; c != '\r';) {  // the first progress line: the run is correlating
      if (read(out[0], &c, 1) != 1) break;
    }
    act(pid, out[0]);
    char buffer[4096];
    while (out[0] >= 0 && read(out[0], buffer, sizeof buffer) > 0) {
    }
    if (out[0] >= 0) close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, testing::read_file(err_path)};
  }

  // Every output file holds the header and whole records, all as many.
  void expect_whole_records() {
    std::set<std::size_t> counts;
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
      if (entry.path().extension() != ".cor") continue;
      ++files;
      const std::size_t size = entry.file_size();
      ASSERT_GE(size, header_bytes) << entry.path();
      EXPECT_EQ((size - header_bytes) % record_bytes, 0u) << entry.path();
      counts.insert((size - header_bytes) / record_bytes);
    }
    EXPECT_EQ(files, 3);
    ASSERT_EQ(counts.size(), 1u) << "files end on different periods";
    EXPECT_LT(*counts.begin(), 1000u) << "the run was not stopped";
  }
};

TEST_F(RunStop, TermSignalStopsAtARecordBoundary) {
  const stopped_run r = run_and([](pid_t pid, int) { kill(pid, SIGTERM); });
  EXPECT_EQ(r.signal_status, 128 + SIGTERM);
  EXPECT_EQ(r.err.rfind("korva_corr : Stopped by signal TERM at Process[0001] 2020/001 00:00:0", 0), 0u) << r.err;
  EXPECT_NE(r.err.find("every output file ends on a whole record\n"), std::string::npos) << r.err;
  expect_whole_records();
}

TEST_F(RunStop, ClosedStandardOutputStopsAtARecordBoundary) {
  const stopped_run r = run_and([](pid_t, int& fd) {
    close(fd);  // as `korva_corr ... | head -1` does
    fd = -1;
  });
  EXPECT_EQ(r.signal_status, 128 + SIGPIPE);
  EXPECT_EQ(r.err.rfind("korva_corr : Stopped by signal PIPE at Process[0001]", 0), 0u) << r.err;
  expect_whole_records();
}

// In this process: a mapped window whose file is cut reads zeros past the
// new end, and the station is recorded instead of the signal ending the run.
TEST(RawWindowGuard, ShrunkFileReadsZerosAndNamesTheStation) {
  temporary_folder folder;
  const std::string path = folder.write("raw", std::string(4 * 4096, '\x5a'));
  const int fd = open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  void* base = mmap(nullptr, 4 * 4096, PROT_READ, MAP_SHARED, fd, 0);
  ASSERT_NE(base, MAP_FAILED);
  raw_window windows[max_stations] = {};
  windows[3] = {static_cast<const uint32_t*>(base), 0, 4 * 1024, 4 * 1024};
  install_run_signal_handlers();
  clear_run_signals();
  guard_raw_windows(windows);
  ASSERT_EQ(truncate(path.c_str(), 4096), 0);
  const volatile uint32_t* words = windows[3].base;
  EXPECT_EQ(words[10], 0x5a5a5a5au);   // still in the file
  EXPECT_EQ(words[3000], 0u);          // past its new end: a page of zeros
  EXPECT_EQ(shrunk_station(), 3);
  guard_raw_windows(nullptr);
  clear_run_signals();
  munmap(base, 4 * 4096);
  close(fd);
}

}  // namespace
}  // namespace korva
