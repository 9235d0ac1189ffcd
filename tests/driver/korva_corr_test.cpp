// The korva_corr program run as a subprocess: its lines on standard output
// and standard error and its exit status.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <ctime>
#include <regex>
#include <string>
#include <vector>

#include "subprocess.h"
#include "temporary_folder.h"

namespace korva {
namespace {

using testing::lines_of;
using testing::program_result;
using testing::temporary_folder;

const std::string info = "KORVA_CORR [Information] : ";
const std::regex started_line(R"(KORVA_CORR \[Information\] : Process\[(\d{4})\] Started  \d{4}/\d{3} \d\d:\d\d:\d\d\.\d{6})");
const std::regex finished_line(R"(KORVA_CORR \[Information\] : Process\[(\d{4})\] Finished \d{4}/\d{3} \d\d:\d\d:\d\d\.\d{6})");

// 1 Msps, 2 bits, 1 channel: 250,000 bytes per second of raw data.
constexpr int bytes_per_second = 250000;
const std::string head =
    "$Terminal TEST 1Msps/2bit/1ch\n"
    "$Station A ALPHA -3950237.0 3362104.0 3729440.0\n"
    "$Station B BRAVO -3502544.0 3950966.0 3566381.0\n"
    "$Source SRC 12h29m06.6997 +02d03'08.598\n"
    "$Stream CH1 SRC 8.192e9 1 1024 10\n";

class KorvaCorr : public ::testing::Test {
 protected:
  temporary_folder folder;

  program_result run(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {}) {
    return testing::run_program(KORVA_CORR_PATH, args, folder.path(), env);
  }
  void write_schedule(const std::string& text) { folder.write("test.sch", text); }
  void write_raw(const std::string& relative, std::size_t bytes) {
    std::filesystem::create_directories((folder.path() / relative).parent_path());
    folder.write(relative, std::string(bytes, '\x5a'));
  }
  static std::string start_lines(const std::string& schedule, const std::string& terminal, const std::string& raw,
                                 const std::string& cor, const std::string& threads) {
    return info + "Schedule-File      = " + schedule + "\n" + info + "Terminal           = " + terminal + "\n" +
           info + "Raw-File Directory = " + raw + "\n" + info + "Cor-File Directory = " + cor + "\n" + info +
           "Multi-Thread       = " + threads + "\n";
  }
};

TEST_F(KorvaCorr, NoArgumentsPrintsTheUsageAndSucceeds) {
  const program_result r = run({});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("Name\n\t korva_corr - Correlation processing", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("[--multi=<1\xE3\x80\x9C" "8>]\n"), std::string::npos);
  EXPECT_EQ(lines_of(r.out).size(), 12u);
  EXPECT_EQ(r.err, "");
}

TEST_F(KorvaCorr, HelpAndVersionSucceed) {
  const program_result help = run({"--help", "--schedule=nowhere"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out, run({}).out);
  const program_result version = run({"--version", "--multi=abc"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "korva_corr [Version 1.0.0.0]\n");
  EXPECT_EQ(version.err, "");
}

TEST_F(KorvaCorr, BadThreadCountsAreRefused) {
  for (const std::string value : {"0", "-3", "abc", "2x", ""}) {
    const program_result r = run({"--multi=" + value, "--schedule=test.sch"});
    EXPECT_EQ(r.status, 1) << value;
    EXPECT_EQ(r.out, "") << value;
    EXPECT_EQ(r.err, "korva_corr : Number of threads [--multi=" + value + "] is not an integer of 1 or more\n");
  }
}

TEST_F(KorvaCorr, OverlongPathsAreRefusedNotCut) {
  const std::string too_long = std::string(251, 'd') + "/more";  // 256 characters
  const program_result r = run({"--raw-dir", too_long, "--schedule=test.sch"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "korva_corr : Path of --raw-dir is longer than 255 characters [" + too_long + "]\n");
  const program_result env = run({"--schedule=test.sch"}, {{"COR-FILE", too_long}});
  EXPECT_EQ(env.status, 1);
  EXPECT_EQ(env.err, "korva_corr : Path of COR-FILE is longer than 255 characters [" + too_long + "]\n");
}

TEST_F(KorvaCorr, MissingScheduleFailsOnStandardError) {
  const program_result without = run({"--multi=2"});
  EXPECT_EQ(without.status, 1);
  EXPECT_EQ(without.out, "");
  EXPECT_EQ(without.err, "korva_read_schedule: Can't open the schedule-file[]\n");
  const program_result missing = run({"--schedule=absent.sch"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "korva_read_schedule: Can't open the schedule-file[absent.sch]\n");
}

TEST_F(KorvaCorr, ScheduleErrorFailsOnStandardError) {
  write_schedule(head + "$Process 2020/001 00:00:00 2 SRC AB extra\n");
  const program_result r = run({"--schedule=test.sch"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "append_process: Syntax Error in process-info [$Process 2020/001 00:00:00 2 SRC AB extra]\n");
}

TEST_F(KorvaCorr, NoProcessPrintsTheStartLinesAndFinishes) {
  write_schedule("# nothing to do\n");
  const program_result r = run({"--schedule", "test.sch", "--multi", "20", "--cor-dir=cor"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, start_lines("test.sch", " 0000Msps/0bit/00ch", ".", "cor", "08") + info +
                       "Correlation Finished\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(KorvaCorr, MissingRawFileFailsOnStandardOutput) {
  write_schedule(head + "$Process 2020/001 00:00:00 2 SRC AB\n");
  write_raw("raw/ALPHA_2020001000000.raw", 2 * bytes_per_second);
  const program_result r = run({"--schedule=test.sch", "--raw-dir=raw"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "");
  const std::vector<std::string> lines = lines_of(r.out);
  ASSERT_EQ(lines.size(), 7u) << r.out;
  EXPECT_EQ(r.out.substr(0, r.out.find("Process[")), start_lines("test.sch", "TEST 0001Msps/2bit/01ch", "raw", ".", "01") + info);
  EXPECT_TRUE(std::regex_match(lines[5], started_line)) << lines[5];
  EXPECT_EQ(lines[6], "korva_open_raw_file : Can't open the raw-file[raw/BRAVO_2020001000000.raw]");
}

TEST_F(KorvaCorr, WholeRunCorrelatesEverySecondIntoTheOutputFiles) {
  write_schedule(head + "$Process 2020/001 00:00:00 2 SRC AB\n$Process 2020/001 00:00:10 0 SRC A\n" +
                 "$Process 2020/001 00:01:00 1 SRC B\n");
  write_raw("raw/ALPHA_2020001000000.raw", 2 * bytes_per_second);
  write_raw("raw/BRAVO_2020001000000.raw", 2 * bytes_per_second);
  write_raw("raw/ALPHA_2020001000010.raw", 0);  // a process of length 0 still opens its files
  write_raw("raw/BRAVO_2020001000100.raw", bytes_per_second);
  std::filesystem::create_directories(folder.path() / "cor");
  const program_result r = run({"--schedule=test.sch", "--raw-dir=raw", "--cor-dir=cor", "--multi=3"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.err, "");
  // Each correlated second leaves one line of progress texts ended by "\r".
  std::vector<std::string> lines, progress;
  for (const std::string& line : lines_of(r.out))
    (line.find('\r') == std::string::npos ? lines : progress).push_back(line);
  EXPECT_EQ(progress.size(), 3u) << r.out;
  for (const std::string& line : progress)
    EXPECT_EQ(line.rfind(info + "Process=000", 0), 0u) << line;
  ASSERT_EQ(lines.size(), 12u) << r.out;
  EXPECT_EQ(lines[4], info + "Multi-Thread       = 03");
  std::smatch m;
  for (int p = 0; p < 3; ++p) {
    ASSERT_TRUE(std::regex_match(lines[5 + 2 * p], m, started_line)) << lines[5 + 2 * p];
    EXPECT_EQ(std::stoi(m[1]), p + 1);
    ASSERT_TRUE(std::regex_match(lines[6 + 2 * p], m, finished_line)) << lines[6 + 2 * p];
    EXPECT_EQ(std::stoi(m[1]), p + 1);
  }
  EXPECT_EQ(lines[11], info + "Correlation Finished");
  // 10 records per second of 128 + 512 x 8 bytes after the 256-byte header.
  const auto size = [&](const std::string& name) { return std::filesystem::file_size(folder.path() / "cor" / name); };
  for (const char* pair : {"ALPHA_ALPHA", "ALPHA_BRAVO", "BRAVO_BRAVO"})
    EXPECT_EQ(size(std::string(pair) + "_2020001000000_CH1.cor"), 256u + 20u * 4224u) << pair;
  EXPECT_EQ(size("ALPHA_ALPHA_2020001000010_CH1.cor"), 256u);
  EXPECT_EQ(size("BRAVO_BRAVO_2020001000100_CH1.cor"), 256u + 10u * 4224u);
  EXPECT_FALSE(std::filesystem::exists(folder.path() / "cor" / "ALPHA_BRAVO_2020001000100_CH1.cor"));
}

TEST_F(KorvaCorr, RawFileTooShortFailsTheMapOnStandardOutput) {
  write_schedule(head + "$Process 2020/001 00:00:00 2 SRC A\n");
  write_raw("ALPHA_2020001000000.raw", 4096);  // reaches only into the first second
  const program_result r = run({"--schedule=test.sch"});
  EXPECT_EQ(r.status, 1);
  // What was correlated before the failure is reported as nearly empty.
  const std::regex warning(R"(korva_corr : Warning: Process\[0001\] station\[ALPHA\]: raw data missing in 1 of 2 )"
                           R"(seconds \(2020/001 00:00:00\); (\d+\.\d)% of its segments are zeros\n)");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(r.err, m, warning)) << r.err;
  EXPECT_GT(std::stod(m[1]), 95.0);  // 4096 of 250,000 bytes are there
  const std::vector<std::string> lines = lines_of(r.out);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().rfind("korva_mmap_raw_file: Can't mmap the raw-file[ALPHA: <", 0), 0u) << r.out;
}

// A FIFO would block the open for ever, a directory would fail the map with
// a misleading message: both are refused when the process opens its files.
TEST_F(KorvaCorr, RawFilesThatAreNotRegularFilesAreRefusedAtOpen) {
  write_schedule(head + "$Process 2020/001 00:00:00 1 SRC AB\n");
  write_raw("ALPHA_2020001000000.raw", bytes_per_second);
  ASSERT_EQ(mkfifo((folder.path() / "BRAVO_2020001000000.raw").c_str(), 0600), 0);
  program_result r = run({"--schedule=test.sch"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(lines_of(r.out).back(), "korva_open_raw_file : The raw-file[./BRAVO_2020001000000.raw] is not a regular file");
  std::filesystem::remove(folder.path() / "BRAVO_2020001000000.raw");
  std::filesystem::create_directory(folder.path() / "BRAVO_2020001000000.raw");
  r = run({"--schedule=test.sch"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(lines_of(r.out).back(), "korva_open_raw_file : The raw-file[./BRAVO_2020001000000.raw] is not a regular file");
}

// A file that ends inside the last second: the run succeeds (the missing
// segments are zeros, as the format defines), and says so per station.
TEST_F(KorvaCorr, RawDataEndingEarlyIsReportedPerStationAndProcess) {
  write_schedule(head + "$Process 2020/001 00:00:00 4 SRC AB\n");
  write_raw("ALPHA_2020001000000.raw", 4 * bytes_per_second);
  write_raw("BRAVO_2020001000000.raw", 3 * bytes_per_second + bytes_per_second / 2);
  const program_result r = run({"--schedule=test.sch"});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::regex warning(R"(korva_corr : Warning: Process\[0001\] station\[BRAVO\]: raw data missing in 1 of 4 )"
                           R"(seconds \(2020/001 00:00:03\); (\d+\.\d)% of its segments are zeros\n)");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(r.err, m, warning)) << r.err;
  // Half of the last of four seconds, less the margin's rounding: about 12.5 %.
  EXPECT_NEAR(std::stod(m[1]), 12.5, 0.3);
}

// 3 pairs of 2 stations x 8 streams = 24 output files, 2 raw files and 16 to spare.
TEST_F(KorvaCorr, TooFewFileDescriptorsAreRefusedBeforeAnyFileAndRaisedWhenAllowed) {
  std::string streams;
  for (int s = 2; s <= 8; ++s) streams += "$Stream CH" + std::to_string(s) + " SRC 8.192e9 1 1024 1\n";
  write_schedule(head + streams + "$Process 2020/001 00:00:00 1 SRC AB\n");
  write_raw("ALPHA_2020001000000.raw", bytes_per_second);
  write_raw("BRAVO_2020001000000.raw", bytes_per_second);
  const auto correlate_with_limits = [&](const std::string& soft, const std::string& hard) {
    return testing::run_program("/bin/sh", {"-c", "ulimit -Sn " + soft + " && ulimit -Hn " + hard + " && exec " +
                                                      KORVA_CORR_PATH + " --schedule=test.sch"},
                                folder.path());
  };
  const program_result refused = correlate_with_limits("30", "30");
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "korva_corr : Process[0001] needs 42 open files, more than the limit of 30\n");
  for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
    EXPECT_NE(entry.path().extension(), ".cor") << entry.path();
  const program_result raised = correlate_with_limits("30", "64");
  EXPECT_EQ(raised.status, 0) << raised.err;
  EXPECT_TRUE(std::filesystem::exists(folder.path() / "ALPHA_BRAVO_2020001000000_CH8.cor"));
}

TEST_F(KorvaCorr, DirectoriesFromOptionEnvironmentOrCurrentFolder) {
  write_schedule(head + "$Process 2020/001 00:00:00 1 SRC A\n");
  const program_result env = run({"--schedule=test.sch"}, {{"RAW-FILE", "envraw"}, {"COR-FILE", "envcor"}});
  EXPECT_NE(env.out.find(info + "Raw-File Directory = envraw\n" + info + "Cor-File Directory = envcor\n"),
            std::string::npos)
      << env.out;
  EXPECT_NE(env.out.find("raw-file[envraw/ALPHA_2020001000000.raw]"), std::string::npos);

  const program_result option = run({"--schedule=test.sch", "--raw-dir=optraw"}, {{"RAW-FILE", "envraw"}});
  EXPECT_NE(option.out.find("raw-file[optraw/ALPHA_2020001000000.raw]"), std::string::npos) << option.out;

  write_raw("ALPHA_2020001000000.raw", bytes_per_second);  // in the current folder
  const program_result current = run({"--schedule=test.sch"}, {{"RAW-FILE", ""}});
  EXPECT_EQ(current.status, 0) << current.out;
  EXPECT_NE(current.out.find(info + "Raw-File Directory = .\n"), std::string::npos);
}

TEST_F(KorvaCorr, TimesAreUtcWhateverTheTimeZone) {
  write_schedule(head + "$Process 2020/001 00:00:00 0 SRC A\n");
  write_raw("ALPHA_2020001000000.raw", 0);
  const std::time_t before = std::time(nullptr);
  const program_result r = run({"--schedule=test.sch"}, {{"TZ", "Asia/Tokyo"}});
  ASSERT_EQ(r.status, 0);
  const std::vector<std::string> lines = lines_of(r.out);
  ASSERT_GE(lines.size(), 6u);
  std::tm tm{};
  const std::string stamp = lines[5].substr(lines[5].size() - 24, 17);
  ASSERT_NE(strptime(stamp.c_str(), "%Y/%j %H:%M:%S", &tm), nullptr) << stamp;
  // strptime leaves the month to %j: rebuild the date from the day of the year.
  tm.tm_mon = 0;
  tm.tm_mday = tm.tm_yday + 1;
  const std::time_t printed = timegm(&tm);
  EXPECT_LE(std::abs(static_cast<long>(printed - before)), 120L) << lines[5];
}

TEST_F(KorvaCorr, RunEndsAfterTheThousandthProcess) {
  // One second apart: processes of one start second and station would write
  // the same output files.
  std::string text = head;
  for (int p = 0; p < 1001; ++p) {
    char time[16];
    std::snprintf(time, sizeof time, "%02d:%02d:%02d", p / 3600, p / 60 % 60, p % 60);
    text += std::string("$Process 2020/001 ") + time + " 0 SRC A\n";
    std::snprintf(time, sizeof time, "%02d%02d%02d", p / 3600, p / 60 % 60, p % 60);
    if (p < 1000) write_raw(std::string("ALPHA_2020001") + time + ".raw", 0);
  }
  write_schedule(text);
  const program_result r = run({"--schedule=test.sch"});
  EXPECT_EQ(r.status, 0);
  const std::vector<std::string> lines = lines_of(r.out);
  ASSERT_EQ(lines.size(), 5u + 2000u + 1u);
  std::smatch m;
  ASSERT_TRUE(std::regex_match(lines[2004], m, finished_line));
  EXPECT_EQ(m[1], "1000");
  EXPECT_EQ(lines[2005], info + "Correlation Finished");
}

TEST_F(KorvaCorr, UnknownOptionsAndStrayWordsFailBeforeAnyOutput) {
  write_schedule("# empty\n");
  for (const char* word : {"--frobnicate", "--cor_dir=elsewhere", "stray"}) {
    const program_result r = run({"--schedule=test.sch", word});
    EXPECT_EQ(r.status, 1) << word;
    EXPECT_NE(r.err.find(std::string(word).substr(word[0] == '-' ? 2 : 0, 7)), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "") << word;
  }
}

// Every fault of a schedule is refused when it is read: status 1, one line on
// standard error, and not one output file, even where the raw files are there
// and an earlier process is sound.
TEST_F(KorvaCorr, ScheduleFaultsAreRefusedBeforeAnyOutputFile) {
  struct fault {
    std::string lines;
    std::string message;
  };
  const std::string sound = "$Process 2020/001 00:00:00 1 SRC AB\n";
  const std::vector<fault> faults = {
      {"$Process 1970/001 00:00:00 1 SRC AB",
       "append_process: Epoch 1970/001 00:00:00 of process-info [$Process 1970/001 00:00:00 1 SRC AB] would end the "
       "process table"},
      {"$Process 1969/365 23:59:59 2 SRC AB",
       "append_process: Process-info [$Process 1969/365 23:59:59 2 SRC AB] runs up to or across 1970/001 00:00:00"},
      {"$Process 2038/019 03:14:00 60 SRC AB",
       "append_process: Process-info [$Process 2038/019 03:14:00 60 SRC AB] runs past 2038/019 03:14:07"},
      {"$Stream CH2 SRC 8.192e9 1 1024 -10",
       "append_stream: Number of the parameter periods[-10] of stream-info [$Stream CH2 SRC 8.192e9 1 1024 -10] is "
       "negative"},
      {"$Stream CH2 SRC 8.192e9 1 1024 100000000\n$Process 2020/001 00:01:00 30 SRC A",
       "korva_read_schedule: Record count[3000000000] of stream-info [$Stream CH2 SRC 8.192e9 1 1024 100000000] in "
       "process-info [$Process 2020/001 00:01:00 30 SRC A] is over than 2147483647"},
      {"$Source NAN 12h29mnan +02d03'08.598",
       "append_source: Right ascension[12h29mnan] of source-info [$Source NAN 12h29mnan +02d03'08.598] is outside "
       "00h00m00 to 23h59m59.x"},
      {"$Source FAR 12h29m06.0 -95d00'00.0",
       "append_source: Declination[-95d00'00.0] of source-info [$Source FAR 12h29m06.0 -95d00'00.0] is outside "
       "-90d00'00 to +90d00'00"},
      {"$Station C ../CHARLIE 1 2 3",
       "append_station: Name[../CHARLIE] of station-info [$Station C ../CHARLIE 1 2 3] contains '/'"},
      {"$Stream ../CH2 SRC 8.192e9 1 1024 10",
       "append_stream: Name[../CH2] of stream-info [$Stream ../CH2 SRC 8.192e9 1 1024 10] contains '/'"},
      {"$Process 2020/001 00:00:00 1 SRC B",
       "korva_read_schedule: Process-info [$Process 2020/001 00:00:00 1 SRC B] would overwrite the cor-files of "
       "process-info [$Process 2020/001 00:00:00 1 SRC AB]"},
      {"$Stream CH2 NOWHERE 8.192e9 1 1024 10\n$Process 2020/001 00:01:00 1 ELSEWHERE A",
       "find_source: Not found the source-info[NOWHERE]"},
      {"$Process 2020/001 00:01:00 1 SRC XY",
       "korva_read_schedule: Stations[XY] of process-info [$Process 2020/001 00:01:00 1 SRC XY] match no "
       "station-info"},
  };
  write_raw("ALPHA_2020001000000.raw", bytes_per_second);
  write_raw("BRAVO_2020001000000.raw", bytes_per_second);
  const auto cor_files = [&] {
    int count = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder.path()))
      count += entry.path().extension() == ".cor";
    return count;
  };
  for (const fault& f : faults) {
    write_schedule(head + sound + f.lines + "\n");
    const program_result r = run({"--schedule=test.sch"});
    EXPECT_EQ(r.status, 1) << f.lines;
    EXPECT_EQ(r.err, f.message + "\n");
    EXPECT_EQ(r.out, "") << f.lines;
    EXPECT_EQ(cor_files(), 0) << f.lines;
  }
  write_schedule(head + sound);  // the sound schedule alone writes its files
  EXPECT_EQ(run({"--schedule=test.sch"}).status, 0);
  EXPECT_EQ(cor_files(), 3);
}

TEST_F(KorvaCorr, ScheduleThatIsADirectoryFails) {
  std::filesystem::create_directory(folder.path() / "test.sch");
  const program_result r = run({"--schedule=test.sch"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "korva_read_schedule: Can't read the schedule-file[test.sch] to its end (Is a directory)\n");
}

// Streams that write no record, or whose records share samples, are
// correlated as written, with a warning each on standard error.
TEST_F(KorvaCorr, DoubtfulStreamsAreCorrelatedWithAWarning) {
  write_schedule(head + "$Stream NONE SRC 8.192e9 1 1024 0\n$Stream FAST SRC 8.192e9 1 1024 1000\n" +
                 "$Process 2020/001 00:00:00 1 SRC A\n");
  write_raw("ALPHA_2020001000000.raw", bytes_per_second);
  const program_result r = run({"--schedule=test.sch"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err,
            "korva_read_schedule: Warning: Stream[NONE] has 0 parameter periods per second: its cor-files get no "
            "records\n"
            "korva_read_schedule: Warning: Stream[FAST] has periods of 1000 samples, shorter than its 1024-point "
            "FFT segment: records share samples, 4224000 bytes per second of data in each cor-file\n");
  EXPECT_EQ(std::filesystem::file_size(folder.path() / "ALPHA_ALPHA_2020001000000_NONE.cor"), 256u);
  EXPECT_EQ(std::filesystem::file_size(folder.path() / "ALPHA_ALPHA_2020001000000_FAST.cor"), 256u + 4224000u);
}

}  // namespace
}  // namespace korva
