// The manager of a job without MPI: units handed out in order and finished
// in any order give the output files of korva_corr, byte for byte, also when
// the job fails; the number of pending units stays within its bound.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <tuple>

#include "../schedule/schedule_fixture.h"
#include "mpi_job.h"
#include "mpi_job_fixture.h"
#include "subprocess.h"

namespace korva {
namespace {

namespace fs = std::filesystem;
using testing::temporary_folder;

// Workers that finish their units in an order drawn by a seeded generator,
// each unit's batches delivered when it finishes; it checks that the manager
// never has more units pending than the bound.
class scrambled_executor : public unit_executor {
 public:
  scrambled_executor(unit_runner& runner, int32_t workers, uint32_t seed)
      : runner_(runner), workers_(workers), random_(seed) {}
  int32_t worker_count() const override { return workers_; }
  int32_t idle_workers() const override { return workers_ - static_cast<int32_t>(running_.size()); }
  void start(const work_unit& unit) override {
    running_.push_back(unit);
    started_.push_back(unit);
    pending_.insert(unit.sequence);
    max_pending_ = std::max<int64_t>(max_pending_, *pending_.rbegin() - *pending_.begin() + 1);
  }
  bool poll(unit_events& events, int32_t /*wait_ms*/) override {
    if (running_.empty()) return false;
    const std::size_t pick = std::uniform_int_distribution<std::size_t>(0, running_.size() - 1)(random_);
    const work_unit unit = running_[pick];
    running_.erase(running_.begin() + static_cast<std::ptrdiff_t>(pick));
    job_failure failure;
    const bool done = runner_.run(unit, [&events](record_batch& batch) { events.batch_arrived(batch); }, failure);
    events.unit_finished(unit.sequence, done ? nullptr : &failure);
    // Written units are no longer pending: the manager's oldest decides.
    pending_.erase(unit.sequence);
    return true;
  }
  int64_t max_pending() const { return max_pending_; }
  const std::vector<work_unit>& started() const { return started_; }

 private:
  unit_runner& runner_;
  int32_t workers_;
  std::mt19937 random_;
  std::vector<work_unit> running_;
  std::vector<work_unit> started_;
  std::set<int64_t> pending_;
  int64_t max_pending_ = 0;
};

// Captured lines of a stream.
struct captured {
  std::FILE* file = std::tmpfile();
  ~captured() { std::fclose(file); }
  std::string text() const {
    std::fflush(file);
    std::rewind(file);
    std::string all;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) all.append(buffer, n);
    return all;
  }
};

struct run_output {
  int status;
  std::string out;
  std::string err;
};

class JobManager : public ::testing::Test {
 protected:
  temporary_folder folder;
  std::unique_ptr<schedule_tables> tables = testing::zeroed_tables();
  job_settings settings;

  void SetUp() override {
    fs::create_directories(folder.path() / "raw");
    std::mt19937 words(7);
    for (const char* name : testing::job_raw_files) write_random_raw(name, 7 * 500000, words);
    load_schedule(testing::job_schedule());
  }
  void write_random_raw(const std::string& name, std::size_t bytes, std::mt19937& words) {
    std::string data(bytes, '\0');
    for (std::size_t k = 0; k + 4 <= bytes; k += 4) {
      const uint32_t word = words();
      std::memcpy(data.data() + k, &word, 4);
    }
    folder.write("raw/" + name, data);
  }
  void load_schedule(const std::string& text) {
    const std::string path = folder.write("job.sch", text);
    message_buffer message;
    *tables = schedule_tables{};
    ASSERT_EQ(korva_read_schedule(*tables, path.c_str(), message), 1) << message.text;
    std::snprintf(settings.run.raw_dir, sizeof settings.run.raw_dir, "%s", (folder.path() / "raw").c_str());
  }
  fs::path output_folder(const std::string& name) {
    const fs::path path = folder.path() / name;
    fs::remove_all(path);
    fs::create_directories(path);
    std::snprintf(settings.run.cor_dir, sizeof settings.run.cor_dir, "%s", path.c_str());
    return path;
  }
  working_memory memory() {
    working_memory m;
    message_buffer message;
    EXPECT_EQ(korva_memory_allocate(m, settings.run.thread_count, message), 1);
    return m;
  }
  // The korva_corr program itself: a failing run leaves its files as its
  // exit flushes them.
  run_output run_korva_corr(const std::string& folder_name) {
    const fs::path cor = output_folder(folder_name);
    const testing::program_result r = testing::run_program(
        KORVA_CORR_PATH,
        {"--schedule=" + (folder.path() / "job.sch").string(), "--raw-dir=" + std::string(settings.run.raw_dir),
         "--cor-dir=" + cor.string(), "--multi=" + std::to_string(settings.run.thread_count)},
        folder.path());
    return {r.status, r.out, r.err};
  }
  run_output run_scrambled(const std::string& folder_name, int32_t workers, uint32_t seed,
                           int64_t* max_pending = nullptr) {
    output_folder(folder_name);
    unit_runner runner(*tables, settings, memory());
    job_failure failure;
    EXPECT_TRUE(runner.prepare(failure)) << failure.message.text;
    scrambled_executor executor(runner, workers, seed);
    captured out, err;
    const int status = run_job(*tables, settings, executor, out.file, err.file, false);
    if (max_pending != nullptr) *max_pending = executor.max_pending();
    return {status, out.text(), err.text()};
  }

  void expect_any_completion_order_writes_korva_corrs_files(int32_t threads) {
    settings.run.thread_count = threads;
    const run_output reference = run_korva_corr("reference");
    ASSERT_EQ(reference.status, exit_success) << reference.err;
    for (const int32_t chunk : {1, 3, 100}) {
      for (const int32_t workers : {1, 4}) {
        settings.chunk_seconds = chunk;
        int64_t max_pending = 0;
        const run_output job = run_scrambled("job", workers, 17u * workers + chunk, &max_pending);
        const std::string context = "threads " + std::to_string(threads) + " chunk " + std::to_string(chunk) +
                                    " workers " + std::to_string(workers);
        EXPECT_EQ(job.status, exit_success) << context << job.err;
        EXPECT_EQ(job.err, "");
        EXPECT_LE(max_pending, pending_unit_bound(workers)) << context;
        testing::expect_same_files(folder.path() / "reference", folder.path() / "job", context);
        EXPECT_NE(job.out.find("Process[0003] Finished"), std::string::npos);
        EXPECT_NE(job.out.find("KORVA_CORR [Information] : Correlation Finished\n"), std::string::npos);
      }
    }
  }
};


TEST_F(JobManager, UnitsCoverEverySecondOfEveryStreamOnceInOrder) {
  for (const int32_t chunk : {1, 3, 100}) {
    unit_cursor cursor(*tables, chunk);
    std::vector<std::tuple<int32_t, int32_t, int64_t>> covered;
    std::vector<int32_t> starts;
    int64_t sequence = 0;
    job_position last{-1, -1, -1};
    while (cursor.next_kind() != unit_cursor::kind::end) {
      EXPECT_LT(last, cursor.next_position());
      last = cursor.next_position();
      if (cursor.next_kind() == unit_cursor::kind::process_start) {
        starts.push_back(cursor.process());
        cursor.take_process_start();
        continue;
      }
      const work_unit unit = cursor.take_unit();
      EXPECT_EQ(unit.sequence, sequence++);
      EXPECT_GE(unit.seconds, 1);
      EXPECT_LE(unit.seconds, chunk);
      for (int64_t s = 0; s < unit.seconds; ++s)
        covered.emplace_back(unit.process_index, unit.stream_index, unit.first_offset + s);
    }
    EXPECT_EQ(starts, (std::vector<int32_t>{0, 1, 2, 3})) << "the empty process starts too";
    std::sort(covered.begin(), covered.end());
    std::vector<std::tuple<int32_t, int32_t, int64_t>> expected;
    const int64_t lengths[] = {4, 7, 0, 2};
    for (int32_t p = 0; p < 4; ++p)
      for (int32_t s = 0; s < 2; ++s)
        for (int64_t t = 0; t < lengths[p]; ++t) expected.emplace_back(p, s, t);
    EXPECT_EQ(covered, expected) << "chunk " << chunk;
  }
}

TEST_F(JobManager, RecordBatchesKeepEveryRecordAndRefuseTruncatedBytes) {
  record_batch batch;
  batch.reset(work_unit{5, 1, 1, 3, 2}, 4);
  std::mt19937 values(3);
  float spectrum[2][16];
  for (auto& row : spectrum)
    for (float& v : row) v = std::uniform_real_distribution<float>(-1, 1)(values);
  cor_record_header header{};
  header.start_second = 1234;
  header.period_length = 0.2f;
  batch.append({0, 2}, 3, header, spectrum[0], 8);
  header.start_second = 1235;
  batch.append({2, 2}, 4, header, spectrum[1], 8);
  std::vector<batch_record> records;
  ASSERT_TRUE(batch.read(records));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(batch.position(), (job_position{1, 4, 1}));
  EXPECT_EQ(batch.header().sequence, 5);
  EXPECT_EQ(records[1].pair.first, 2);
  EXPECT_EQ(records[1].period_index, 4);
  EXPECT_EQ(records[1].header.start_second, 1235);
  EXPECT_EQ(std::memcmp(records[1].spectrum, spectrum[1], 8 * 8), 0);
  batch.bytes().pop_back();
  EXPECT_FALSE(batch.read(records));
}

TEST_F(JobManager, AnyCompletionOrderWritesKorvaCorrsFilesWithOneThread) {
  expect_any_completion_order_writes_korva_corrs_files(1);
}

TEST_F(JobManager, AnyCompletionOrderWritesKorvaCorrsFilesWithTwoThreads) {
  expect_any_completion_order_writes_korva_corrs_files(2);
}

// Started and Finished lines in process order, each process's Started before
// its Finished, as korva_corr prints them.
TEST_F(JobManager, ProcessLinesComeInProcessOrder) {
  settings.chunk_seconds = 1;
  const run_output job = run_scrambled("job", 4, 99);
  ASSERT_EQ(job.status, exit_success);
  std::vector<std::string> events;
  for (std::size_t at = job.out.find("Process["); at != std::string::npos; at = job.out.find("Process[", at + 1))
    events.push_back(job.out.substr(at + 8, 4) + job.out.substr(at + 14, 8));
  EXPECT_EQ(events, (std::vector<std::string>{"0001Started ", "0001Finished", "0001Summary ", "0002Started ",
                                              "0002Finished", "0002Summary ", "0003Started ", "0003Finished",
                                              "0003Summary ", "0004Started ", "0004Finished", "0004Summary "}));
}

// A raw file too short for a second of the second process: the message of
// korva_corr on standard output, and the files as korva_corr leaves them (the
// first process complete, the second up to the failing second, no files of
// later processes).
TEST_F(JobManager, ShortRawFileLeavesKorvaCorrsFiles) {
  fs::resize_file(folder.path() / "raw" / "BRAVO_2024101120100.raw", 2300000);
  const run_output reference = run_korva_corr("reference");
  ASSERT_EQ(reference.status, exit_failure);
  const std::string message = "korva_mmap_raw_file: Can't mmap the raw-file[BRAVO: <";
  ASSERT_NE(reference.out.find(message), std::string::npos);
  for (const int32_t chunk : {1, 3, 100}) {
    settings.chunk_seconds = chunk;
    const run_output job = run_scrambled("job", 3, 5u + chunk);
    EXPECT_EQ(job.status, exit_failure);
    EXPECT_EQ(job.err, "");
    const std::vector<std::string> expected = testing::lines_of(reference.out);
    const std::vector<std::string> lines = testing::lines_of(job.out);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.back(), expected.back());
    EXPECT_EQ(lines[lines.size() - 2].rfind("KORVA_CORR [Information] : Process[0002] Started  ", 0), 0u);
    testing::expect_same_files(folder.path() / "reference", folder.path() / "job", "chunk " + std::to_string(chunk));
  }
}

// A raw file ending inside the last second of its process: the run goes on
// (the missing segments are zeros) and the manager reports the missing data
// as korva_corr does, whichever way the seconds were cut into units.
TEST_F(JobManager, RawDataEndingEarlyIsReportedAsKorvaCorrReportsIt) {
  fs::resize_file(folder.path() / "raw" / "BRAVO_2024101120100.raw", 3250000);  // 6.5 of 7 seconds
  const run_output reference = run_korva_corr("reference");
  ASSERT_EQ(reference.status, exit_success) << reference.err;
  ASSERT_EQ(reference.err.rfind("korva_corr : Warning: Process[0002] station[BRAVO]: raw data missing in 1 of 7 "
                                "seconds (2024/101 12:01:06); ", 0), 0u) << reference.err;
  for (const int32_t chunk : {1, 3, 100}) {
    settings.chunk_seconds = chunk;
    const run_output job = run_scrambled("job", 3, 7u + chunk);
    EXPECT_EQ(job.status, exit_success);
    EXPECT_EQ(job.err, reference.err) << "chunk " << chunk;
    testing::expect_same_files(folder.path() / "reference", folder.path() / "job", "chunk " + std::to_string(chunk));
  }
}

// A later process whose sources are missing, and two processes of one start
// second (which would write the same files), are refused when the schedule is
// read, by the reader the manager shares with korva_corr: before any output.
TEST_F(JobManager, SchedulesThatWouldLoseOutputAreRefusedBeforeAnyFile) {
  std::string missing_source = testing::job_schedule();
  missing_source.replace(missing_source.find("$Stream CH2 SRC1"), 16, "$Stream CH2 SRC2");
  missing_source.replace(missing_source.find("12:03:00 2 SRC1 AC"), 18, "12:03:00 2 SRCX AC");
  const std::string same_epoch = testing::job_schedule() + "$Process 2024/101 12:00:00 3 SRC1 ABC\n";
  for (const auto& [text, message] :
       {std::pair{missing_source, std::string("find_source: Not found the source-info[SRC2]")},
        std::pair{same_epoch, std::string("korva_read_schedule: Process-info [$Process 2024/101 12:00:00 3 SRC1 "
                                          "ABC] would overwrite the cor-files of process-info [$Process 2024/101 "
                                          "12:00:00 4 SRC1 ABC]")}}) {
    const std::string path = folder.write("job.sch", text);
    message_buffer read_message;
    EXPECT_EQ(korva_read_schedule(*tables, path.c_str(), read_message), -1);
    EXPECT_EQ(std::string(read_message.text), message);
    const run_output reference = run_korva_corr("reference");
    EXPECT_EQ(reference.status, exit_failure);
    EXPECT_EQ(reference.err, message + "\n");
    EXPECT_TRUE(fs::is_empty(folder.path() / "reference"));
  }
}

TEST_F(JobManager, MissingRawFileOfALaterProcessEndsAfterTheEarlierOnes) {
  fs::remove(folder.path() / "raw" / "CHARLIE_2024101120300.raw");
  const run_output reference = run_korva_corr("reference");
  ASSERT_EQ(reference.status, exit_failure);
  for (const int32_t workers : {1, 4}) {
    const run_output job = run_scrambled("job", workers, 23);
    EXPECT_EQ(job.status, exit_failure);
    const std::string message = "korva_open_raw_file : Can't open the raw-file[" + std::string(settings.run.raw_dir) +
                                "/CHARLIE_2024101120300.raw]\n";
    EXPECT_TRUE(job.out.ends_with(message)) << job.out;
    EXPECT_NE(job.out.find("Process[0003] Finished"), std::string::npos);
    EXPECT_NE(job.out.find("Process[0004] Started"), std::string::npos);
    EXPECT_EQ(job.out.find("Process[0004] Finished"), std::string::npos);
    testing::expect_same_files(folder.path() / "reference", folder.path() / "job", "missing raw file");
  }
}

TEST_F(JobManager, CommandLineTakesTheUnitLengthAndKorvaCorrsOptions) {
  const auto parse = [](std::vector<std::string> words, job_settings& parsed, std::string& err) {
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    captured out, errors;
    const command_outcome outcome =
        read_job_command_line(static_cast<int>(argv.size()), argv.data(), parsed, out.file, errors.file);
    err = errors.text();
    return outcome;
  };
  job_settings parsed;
  std::string err;
  EXPECT_EQ(parse({"korva_mpi", "--chunk=3", "--multi", "2", "--schedule=s", "--raw-dir=r"}, parsed, err),
            command_outcome::run);
  EXPECT_EQ(parsed.chunk_seconds, 3);
  EXPECT_EQ(parsed.run.thread_count, 2);
  EXPECT_STREQ(parsed.run.raw_dir, "r");
  job_settings defaults;
  EXPECT_EQ(parse({"korva_mpi", "--schedule=s"}, defaults, err), command_outcome::run);
  EXPECT_EQ(defaults.chunk_seconds, 10);
  for (const std::string bad : {"0", "-1", "x", "3s", ""}) {
    job_settings refused;
    EXPECT_EQ(parse({"korva_mpi", "--chunk=" + bad}, refused, err), command_outcome::failed) << bad;
    EXPECT_EQ(err, "korva_mpi : Unit length [--chunk=" + bad + "] is not an integer of 1 or more\n");
  }
  job_settings refused;
  EXPECT_EQ(parse({"korva_mpi", "--multi=0"}, refused, err), command_outcome::failed);
  EXPECT_EQ(err, "korva_corr : Number of threads [--multi=0] is not an integer of 1 or more\n");
}

}  // namespace
}  // namespace korva
