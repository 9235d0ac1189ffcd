// The korva_mpi program under mpirun on simulated data: the output files of
// korva_corr, byte for byte, for 1 to 4 ranks and units of 1, 3 and 100
// seconds; failures with korva_corr's message and status; a killed worker
// ends the job. Every run is bounded by a timeout, so a hang fails the test.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "subprocess.h"
#include "temporary_folder.h"
#include "mpi_job_fixture.h"

namespace korva {
namespace {

namespace fs = std::filesystem;
using testing::lines_of;
using testing::program_result;

const fs::path data = KORVA_MPI_DATA;  // job.sch and raw/, simulated once for the suite
constexpr int run_timeout_seconds = 60;

// What the ranks need in their environment: Open MPI as root (CI), and no
// leak report from the MPI library in sanitizer builds.
std::map<std::string, std::string> mpi_environment() {
  return {{"OMPI_ALLOW_RUN_AS_ROOT", "1"}, {"OMPI_ALLOW_RUN_AS_ROOT_CONFIRM", "1"},
          {"ASAN_OPTIONS", "detect_leaks=0"}};
}

std::vector<std::string> mpirun_words(int ranks, const std::vector<std::string>& args) {
  std::vector<std::string> words{"--kill-after=5", std::to_string(run_timeout_seconds), KORVA_MPIEXEC,
                                 "--oversubscribe", "-np", std::to_string(ranks), KORVA_MPI_PATH};
  words.insert(words.end(), args.begin(), args.end());
  return words;
}

// A job of forty processes, each at its own minute (two at one start second
// would write the same files), all reading the simulated recording of
// 12:01:00, started under timeout in the background; its ranks carry the
// folder's name in their environment so that they can be found.
struct long_job {
  pid_t pid = -1;
  std::filesystem::path out;
  std::filesystem::path cor;
  std::string token;
};

class KorvaMpi : public ::testing::Test {
 protected:
  testing::temporary_folder folder;

  program_result korva_mpi(int ranks, const std::vector<std::string>& args) {
    return testing::run_program("/usr/bin/timeout", mpirun_words(ranks, args), folder.path(), mpi_environment());
  }
  program_result korva_corr(const std::vector<std::string>& args) {
    return testing::run_program(KORVA_CORR_PATH, args, folder.path());
  }
  long_job start_long_job() {
    std::string schedule = testing::job_schedule();
    schedule = schedule.substr(0, schedule.find("$Process"));
    // Forty processes, each at its own minute (two at one start second would
    // write the same files), all reading the simulated recording of 12:01:00.
    const fs::path raw = folder.path() / "raw";
    fs::create_directories(raw);
    for (int k = 0; k < 40; ++k) {
      char epoch[32], name[64];
      std::snprintf(epoch, sizeof epoch, "2024/101 13:%02d:00", k);
      schedule += "$Process " + std::string(epoch) + " 7 SRC1 ABC\n";
      for (const char* station : {"ALPHA", "BRAVO", "CHARLIE"}) {
        std::snprintf(name, sizeof name, "%s_2024101%02d%02d00.raw", station, 13, k);
        fs::create_symlink(data / "raw" / (std::string(station) + "_2024101120100.raw"), raw / name);
      }
    }
    folder.write("long.sch", schedule);
    const fs::path cor = empty_folder("cor");
    const std::string token = folder.path().filename();  // marks this test's ranks
    std::map<std::string, std::string> env = mpi_environment();
    env["KORVA_TEST_RUN"] = token;
    std::vector<std::string> words =
        mpirun_words(3, {"--schedule=long.sch", "--raw-dir=" + raw.string(), "--cor-dir=" + cor.string(),
                         "--chunk=1"});
    std::vector<std::string> environment = testing::child_environment(env);
    std::vector<char*> argv{const_cast<char*>("/usr/bin/timeout")};
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);
    const fs::path out = folder.path() / "out.txt";
    std::fflush(nullptr);
    const pid_t job = fork();
    if (job == 0) {
      FILE* sink = std::freopen(out.c_str(), "w", stdout);
      if (sink == nullptr || std::freopen((folder.path() / "err.txt").c_str(), "w", stderr) == nullptr || chdir(folder.path().c_str()) != 0)
        _exit(127);
      execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
    return {job, out, cor, token};
  }
  fs::path empty_folder(const std::string& name) {
    const fs::path path = folder.path() / name;
    fs::remove_all(path);
    fs::create_directories(path);
    return path;
  }
  static std::vector<std::string> job_args(const fs::path& raw, const fs::path& cor, int threads) {
    return {"--schedule=" + (data / "job.sch").string(), "--raw-dir=" + raw.string(), "--cor-dir=" + cor.string(),
            "--multi=" + std::to_string(threads)};
  }
  // The five start-up information lines.
  static std::vector<std::string> start_lines(const std::string& out) {
    std::vector<std::string> lines = lines_of(out);
    lines.resize(5);
    return lines;
  }

  void expect_korva_corrs_files(int ranks, int threads) {
    // Written into the folder korva_mpi writes into later, so that the
    // information lines name the same folder.
    const program_result expected = korva_corr(job_args(data / "raw", empty_folder("cor"), threads));
    ASSERT_EQ(expected.status, 0) << expected.err;
    const fs::path reference = folder.path() / "reference";
    fs::rename(folder.path() / "cor", reference);
    for (const int chunk : {1, 3, 100}) {
      const std::string context =
          "-np " + std::to_string(ranks) + " --multi=" + std::to_string(threads) + " --chunk=" + std::to_string(chunk);
      const fs::path cor = empty_folder("cor");
      std::vector<std::string> args = job_args(data / "raw", cor, threads);
      args.push_back("--chunk=" + std::to_string(chunk));
      const program_result job = korva_mpi(ranks, args);
      EXPECT_EQ(job.status, 0) << context << "\n" << job.out << job.err;
      testing::expect_same_files(reference, cor, context);
      EXPECT_EQ(start_lines(job.out), start_lines(expected.out));
      for (const char* line : {"Process[0001] Finished", "Process[0004] Finished", "Process[0004] Summary  2 s x 2 streams",
                               "KORVA_CORR [Information] : Correlation Finished\n"})
        EXPECT_NE(job.out.find(line), std::string::npos) << context << ": " << line << "\n" << job.out;
    }
  }
};

TEST_F(KorvaMpi, OneRankWritesKorvaCorrsFiles) { expect_korva_corrs_files(1, 1); }
TEST_F(KorvaMpi, TwoRanksWriteKorvaCorrsFiles) { expect_korva_corrs_files(2, 2); }
TEST_F(KorvaMpi, ThreeRanksWriteKorvaCorrsFiles) { expect_korva_corrs_files(3, 1); }
TEST_F(KorvaMpi, FourRanksWriteKorvaCorrsFiles) { expect_korva_corrs_files(4, 2); }

// The raw file of a station of the last process is missing: korva_corr's
// message on standard output, status 1, the earlier processes' files
// complete, and every rank gone (mpirun returned within its timeout).
TEST_F(KorvaMpi, MissingRawFileOfALaterProcessEndsTheJob) {
  const fs::path raw = empty_folder("raw");
  for (const auto& entry : fs::directory_iterator(data / "raw")) {
    if (entry.path().filename() != "CHARLIE_2024101120300.raw")
      fs::create_symlink(entry.path(), raw / entry.path().filename());
  }
  const fs::path reference = empty_folder("reference");
  const program_result expected = korva_corr(job_args(raw, reference, 1));
  ASSERT_EQ(expected.status, 1);
  const std::string message = "korva_open_raw_file : Can't open the raw-file[" + raw.string() +
                              "/CHARLIE_2024101120300.raw]\n";
  ASSERT_TRUE(expected.out.ends_with(message));
  for (const int ranks : {1, 3}) {
    const fs::path cor = empty_folder("cor");
    std::vector<std::string> args = job_args(raw, cor, 1);
    args.push_back("--chunk=2");
    const program_result job = korva_mpi(ranks, args);
    EXPECT_EQ(job.status, 1) << job.out << job.err;
    EXPECT_TRUE(job.out.ends_with(message)) << job.out;
    EXPECT_NE(job.out.find("Process[0003] Finished"), std::string::npos);
    testing::expect_same_files(reference, cor, "-np " + std::to_string(ranks));
  }
}

// The pids of the job's ranks rank_text ("OMPI_COMM_WORLD_RANK=1"), or of
// every rank when rank_text is empty.
std::vector<pid_t> ranks_of(const long_job& job, const std::string& rank_text) {
  std::vector<pid_t> pids;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string environ_text = testing::read_file(entry.path() / "environ");
    if (environ_text.find("KORVA_TEST_RUN=" + job.token + '\0') == std::string::npos) continue;
    if (environ_text.find("OMPI_COMM_WORLD_RANK=") == std::string::npos) continue;  // mpirun itself
    if (!rank_text.empty() && environ_text.find(rank_text + '\0') == std::string::npos) continue;
    pids.push_back(static_cast<pid_t>(std::stol(entry.path().filename())));
  }
  return pids;
}

// Waits for the job's end; its exit status, or -1 when it did not exit.
int wait_for(const long_job& job, std::chrono::seconds bound) {
  int status = 0;
  const auto since = std::chrono::steady_clock::now();
  while (waitpid(job.pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() - since > bound) return -2;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(KorvaMpi, KilledWorkerEndsTheJob) {
  const long_job job = start_long_job();
  ASSERT_GT(job.pid, 0);
  std::vector<pid_t> worker;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (worker.empty() && std::chrono::steady_clock::now() < deadline) {
    if (testing::read_file(job.out).find("Process[0001] Finished") != std::string::npos)
      worker = ranks_of(job, "OMPI_COMM_WORLD_RANK=1");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_EQ(worker.size(), 1u) << "no worker rank found\n" << testing::read_file(job.out);
  ASSERT_EQ(testing::read_file(job.out).find("Correlation Finished"), std::string::npos)
      << "the job ended too soon to test";
  const auto killed = std::chrono::steady_clock::now();
  ASSERT_EQ(kill(worker[0], SIGKILL), 0);
  const int status = wait_for(job, std::chrono::seconds(run_timeout_seconds + 10));
  EXPECT_LT(std::chrono::steady_clock::now() - killed, std::chrono::seconds(20)) << "the job ended only by timeout";
  EXPECT_GT(status, 0);
  EXPECT_NE(status, 124) << "ended by the timeout, not by the job";
  EXPECT_EQ(testing::read_file(job.out).find("Correlation Finished"), std::string::npos);
}

// SIGTERM to every rank (as a batch system cancelling the job sends it): the
// manager stops between records, closes every file and aborts the job.
TEST_F(KorvaMpi, TerminatedRanksLeaveFilesOfWholeRecords) {
  const long_job job = start_long_job();
  ASSERT_GT(job.pid, 0);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (testing::read_file(job.out).find("Process[0001] Finished") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const std::vector<pid_t> ranks = ranks_of(job, "");
  ASSERT_EQ(ranks.size(), 3u) << testing::read_file(job.out);
  for (const pid_t rank : ranks) kill(rank, SIGTERM);
  const int status = wait_for(job, std::chrono::seconds(run_timeout_seconds + 10));
  EXPECT_GT(status, 0);
  EXPECT_NE(status, 124) << "ended by the timeout, not by the job";
  EXPECT_EQ(testing::read_file(job.out).find("Correlation Finished"), std::string::npos);
  int files = 0;
  constexpr std::uintmax_t header = 256;
  for (const auto& entry : fs::directory_iterator(job.cor)) {
    const std::uintmax_t size = entry.file_size();
    ++files;
    ASSERT_GE(size, header) << entry.path();
    // CH1: 1024-point records of 128 + 4096 bytes; CH2: 256-point, 128 + 1024.
    const std::uintmax_t record = entry.path().string().find("_CH1.cor") != std::string::npos ? 4224 : 1152;
    EXPECT_EQ((size - header) % record, 0u) << entry.path() << " ends inside a record";
  }
  EXPECT_GT(files, 0);
  const std::string err = testing::read_file(folder.path() / "err.txt");
  EXPECT_NE(err.find("korva_mpi : Stopped by signal TERM after "), std::string::npos) << err;
}

// Bad options and a missing schedule end every rank as korva_corr ends.
TEST_F(KorvaMpi, OptionsAndScheduleFailuresEndEveryRank) {
  const program_result usage = korva_mpi(2, {});
  EXPECT_EQ(usage.status, 0);
  EXPECT_EQ(usage.out.rfind("Name\n\t korva_mpi - ", 0), 0u) << usage.out;
  EXPECT_NE(usage.out.find("--chunk"), std::string::npos);

  const program_result version = korva_mpi(2, {"--version", "--chunk=0"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "korva_mpi [Version 1.0.0.0]\n");

  const program_result chunk = korva_mpi(2, {"--chunk=0", "--schedule=job.sch"});
  EXPECT_EQ(chunk.status, 1);
  EXPECT_EQ(chunk.out, "");
  EXPECT_EQ(lines_of(chunk.err).at(0), "korva_mpi : Unit length [--chunk=0] is not an integer of 1 or more");

  const program_result threads = korva_mpi(2, {"--multi=abc"});
  EXPECT_EQ(threads.status, 1);
  EXPECT_EQ(lines_of(threads.err).at(0), "korva_corr : Number of threads [--multi=abc] is not an integer of 1 or more");

  const program_result expected = korva_corr({"--schedule=missing.sch"});
  const program_result schedule = korva_mpi(3, {"--schedule=missing.sch"});
  EXPECT_EQ(schedule.status, 1);
  EXPECT_EQ(expected.status, 1);
  EXPECT_EQ(schedule.out, expected.out);
  EXPECT_EQ(lines_of(schedule.err).at(0), lines_of(expected.err).at(0));
}

}  // namespace
}  // namespace korva
