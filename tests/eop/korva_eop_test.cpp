// korva_eop: reading finals2000A lines, the days a schedule needs, the
// refusals, and the whole program against the example schedule's lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "finals_file.h"

namespace korva::eop {
namespace {

namespace fs = std::filesystem;

const fs::path source_dir = KORVA_SOURCE_DIR;
const fs::path extract = source_dir / "tests/eop/data/finals2000A_extract.txt";

// The lines of the extract, verbatim copies of the IERS file.
std::vector<std::string> extract_lines() {
  std::ifstream in(extract);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<finals_day> extract_days() {
  std::vector<finals_day> days;
  for (const std::string& line : extract_lines()) {
    finals_day d;
    if (parse_finals_line(line, d)) days.push_back(d);
  }
  return days;
}

struct program_output {
  int status;
  std::string out, err;
};

program_output run_korva_eop(const std::string& arguments) {
  const fs::path folder = fs::temp_directory_path() / ("korva_eop_test_" + std::to_string(::getpid()));
  fs::create_directories(folder);
  const std::string command = std::string(KORVA_EOP_PATH) + " " + arguments + " > " + (folder / "out").string() +
                              " 2> " + (folder / "err").string();
  const int status = std::system(command.c_str());
  auto read = [](const fs::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  };
  program_output result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, read(folder / "out"), read(folder / "err")};
  fs::remove_all(folder);
  return result;
}

std::string write_file(const std::string& name, const std::string& text) {
  const fs::path p = fs::temp_directory_path() / (std::to_string(::getpid()) + "_" + name);
  std::ofstream(p) << text;
  return p.string();
}

TEST(FinalsFile, ReadsTheFixedColumnsOfARealLine) {
  finals_day d;
  ASSERT_TRUE(parse_finals_line(extract_lines().at(0), d));
  bool found_new_year = false, found_prediction = false;
  for (const finals_day& day : extract_days()) {
    if (day.mjd == 57754) {  // 2017-01-01, after the leap second
      found_new_year = true;
      EXPECT_TRUE(day.has_pole && day.has_ut1);
      EXPECT_FALSE(day.pole_predicted || day.ut1_predicted);
      EXPECT_DOUBLE_EQ(day.x_p, 0.080504);
      EXPECT_DOUBLE_EQ(day.y_p, 0.263145);
      EXPECT_DOUBLE_EQ(day.ut1_minus_utc, 0.5912821);
    }
    if (day.mjd == 61266) {  // 2026-08-14, first prediction of the file
      found_prediction = true;
      EXPECT_TRUE(day.pole_predicted && day.ut1_predicted);
    }
  }
  EXPECT_TRUE(found_new_year && found_prediction);
  EXPECT_FALSE(parse_finals_line("", d));
  EXPECT_FALSE(parse_finals_line("73 1 2 4168x.00 I", d));
  // A line whose values are blank (beyond the predictions) has no values.
  ASSERT_TRUE(parse_finals_line("271010 61688.00", d));
  EXPECT_FALSE(d.has_pole || d.has_ut1);
}

TEST(FinalsFile, NeededDaysHaveAPointBeyondEitherSideOfTheProcesses) {
  schedule_tables tables{};
  tables.processes[0] = process_info{1712631600, 3, "S", "AB"};  // 2024/100 03:00:00
  tables.processes[1] = process_info{1712632200, 2, "S", "AB"};  // 2024/100 03:10:00
  day_range range{};
  std::string error;
  ASSERT_TRUE(needed_days(tables, range, error));
  EXPECT_EQ(range.first_mjd, 60408);  // 2024/099
  EXPECT_EQ(range.last_mjd, 60411);   // 2024/102
  // A process that starts at midnight needs the day before its first second's day too.
  tables.processes[0].epoch = 1712620800;  // 2024/100 00:00:00
  ASSERT_TRUE(needed_days(tables, range, error));
  EXPECT_EQ(range.first_mjd, 60407);
  schedule_tables empty{};
  EXPECT_FALSE(needed_days(empty, range, error));
  EXPECT_EQ(error, "korva_eop: the schedule has no process");
}

TEST(FinalsFile, RefusesMissingDaysPredictionsAndTooLongSessions) {
  const std::vector<finals_day> days = extract_days();
  std::vector<std::string> lines;
  std::string error;
  EXPECT_FALSE(eop_lines(days, day_range{60400, 60410}, false, "f", lines, error));
  EXPECT_EQ(error, "korva_eop: [f] has no values for 2024/091 (MJD 60400), needed for 2024/091 .. 2024/101");
  EXPECT_FALSE(eop_lines(days, day_range{61262, 61268}, false, "f", lines, error));
  EXPECT_EQ(error, "korva_eop: the values of 2026/226 in [f] are predictions; add --accept-predictions to use them");
  ASSERT_TRUE(eop_lines(days, day_range{61262, 61268}, true, "f", lines, error)) << error;
  EXPECT_EQ(lines.size(), 7u);
  EXPECT_FALSE(eop_lines(days, day_range{57000, 57100}, false, "f", lines, error));
  EXPECT_EQ(error, "korva_eop: the processes need 101 days of values, more than the 100 $EOP lines a schedule holds");
}

TEST(KorvaEop, PrintsTheExampleSchedulesLines) {
  // The example schedule carries the lines korva_eop printed for it; the
  // program run on the schedule without them must print the same lines.
  std::ifstream in(source_dir / "examples/example.sch");
  std::string without, expected;
  for (std::string line; std::getline(in, line);) {
    (line.rfind("$EOP", 0) == 0 ? expected : without) += line + "\n";
  }
  ASSERT_FALSE(expected.empty());
  const std::string schedule = write_file("example.sch", without);
  const program_output result = run_korva_eop("--finals=" + extract.string() + " --schedule=" + schedule);
  EXPECT_EQ(result.status, 0) << result.err;
  std::string printed;
  std::istringstream lines(result.out);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("$EOP", 0) == 0) printed += line + "\n";
  }
  EXPECT_EQ(printed, expected);
  fs::remove(schedule);
}

TEST(KorvaEop, RefusesWithAMessageAndStatus1) {
  const std::string schedule = write_file(
      "late.sch", "$Terminal T 16Msps/2bit/1ch\n$Station A ALPHA 1 2 3\n$Source S 01h00m00 +01d00'00\n"
                  "$Stream X S 8e9 1 1024 1\n$Process 2026/228 00:00:00 10 S A\n");
  program_output result = run_korva_eop("--finals=" + extract.string() + " --schedule=" + schedule);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "korva_eop: the values of 2026/226 in [" + extract.string() +
                            "] are predictions; add --accept-predictions to use them\n");
  EXPECT_TRUE(result.out.empty());
  result = run_korva_eop("--finals=" + extract.string() + " --schedule=" + schedule + " --accept-predictions");
  EXPECT_EQ(result.status, 0) << result.err;
  result = run_korva_eop("--finals=/nonexistent --schedule=" + schedule);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "korva_eop: can't open the finals file [/nonexistent]\n");
  result = run_korva_eop("--schedule=" + schedule);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "korva_eop: --finals and --schedule are required (see --help)\n");
  fs::remove(schedule);
}

}  // namespace
}  // namespace korva::eop
