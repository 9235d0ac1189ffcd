// End-to-end control of Earth orientation: simulate an intercontinental
// baseline with the schedule's $EOP lines (the true Earth, early 1999 when
// UT1-UTC was +0.716 s), then correlate the same raw files with the $EOP
// lines and without them. Without them the fringe sits at the residual delay
// the model predicts, about a microsecond; with them at zero within a
// hundredth of a sample.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "delay_track.h"
#include "schedule.h"

namespace {

namespace fs = std::filesystem;

std::string read_text(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void run(const std::string& command, const fs::path& log) {
  const int status = std::system((command + " > '" + log.string() + "' 2>&1").c_str());
  ASSERT_EQ(status, 0) << command << "\n" << read_text(log);
}

// key=value fields of korva_fringe's line of one pair.
std::map<std::string, std::string> pair_fields(const std::string& report, const std::string& pair) {
  std::istringstream lines(report);
  for (std::string line; std::getline(lines, line);) {
    std::map<std::string, std::string> fields;
    std::istringstream words(line);
    for (std::string word; words >> word;) {
      const size_t equals = word.find('=');
      if (equals != std::string::npos) fields[word.substr(0, equals)] = word.substr(equals + 1);
    }
    if (fields["pair"] == pair) return fields;
  }
  ADD_FAILURE() << "no fringe reported for " << pair << " in\n" << report;
  return {};
}

constexpr int sample_rate = 4000000;
const std::string schedule_without_eop =
    "$Terminal EOPTEST 4Msps/2bit/1ch\n"
    "$Station A ALPHA -2353621.22 -4641341.47 3677052.32\n"
    "$Station D DELTA 4075539.52 931735.45 4801629.35\n"
    "$Source SRC1 12h29m06.6997 +02d03'08.598\n"
    "$Stream X1 SRC1 7.0e8 1 256 4\n"
    "$Process 1999/002 12:00:00 1 SRC1 AD\n";
// IERS finals2000A values at 0 h UTC of 1999-01-01 .. 1999-01-04.
const std::string eop_lines =
    "$EOP 1999/001 00:00:00 0.7166631 0.138662 0.295726\n"
    "$EOP 1999/002 00:00:00 0.7157538 0.137870 0.293747\n"
    "$EOP 1999/003 00:00:00 0.7148929 0.137506 0.291866\n"
    "$EOP 1999/004 00:00:00 0.7140423 0.137217 0.290294\n";

class EopEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "korva_eop_e2e_XXXXXX").string();
    scratch = mkdtemp(pattern.data());
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(scratch, ignored);
  }
  fs::path write(const std::string& name, const std::string& text) {
    std::ofstream(scratch / name) << text;
    return scratch / name;
  }
  std::string correlate(const fs::path& schedule, const fs::path& raw, const std::string& name) {
    const fs::path cor = scratch / name;
    fs::create_directories(cor);
    run(std::string(KORVA_CORR_PATH) + " --schedule=" + schedule.string() + " --raw-dir=" + raw.string() +
            " --cor-dir=" + cor.string() + " --multi=2",
        scratch / (name + ".log"));
    run("/usr/bin/python3 " + std::string(KORVA_FRINGE_PATH) + " --format=kv --cor-dir=" + cor.string(),
        scratch / (name + ".fringe"));
    return read_text(scratch / (name + ".fringe"));
  }
  fs::path scratch;
};

// Residual delay, in samples, that correlating data of the true Earth with
// the model without Earth orientation leaves on the pair (first, second): the
// second station's model error minus the first's (a positive value means the
// first station's signal arrives later than modelled, as for a clock offset
// of the second station).
double predicted_residual_samples(const korva::schedule_tables& tables, int32_t t) {
  const korva::earth_orientation_series eop(tables.eop);
  auto error = [&](int station) {
    return korva::sim::station_delay_at(tables.stations[station], tables.sources[0], t).delay[0] -
           korva::sim::station_delay_at(tables.stations[station], tables.sources[0], t, &eop).delay[0];
  };
  return (error(1) - error(0)) * sample_rate;
}

TEST_F(EopEndToEnd, WithoutEarthOrientationTheFringeMovesByThePredictedMicrosecond) {
  const fs::path with = write("with.sch", schedule_without_eop + eop_lines);
  const fs::path without = write("without.sch", schedule_without_eop);
  const fs::path raw = scratch / "raw";
  fs::create_directories(raw);
  run(std::string(KORVA_SIM_PATH) + " --schedule=" + with.string() + " --raw-dir=" + raw.string() +
          " --seed=3 --correlation=0.3 --quiet",
      scratch / "sim.log");

  auto tables = std::make_unique<korva::schedule_tables>();
  korva::message_buffer message;
  ASSERT_EQ(korva::korva_read_schedule(*tables, with.c_str(), message), 1) << message.text;
  const int32_t start = tables->processes[0].epoch;
  // The residual changes by under 1e-4 samples within the second.
  const double predicted = predicted_residual_samples(*tables, start);
  std::cout << "predicted residual without Earth orientation: " << predicted << " samples ("
            << predicted / sample_rate * 1e6 << " us)\n";
  ASSERT_GT(std::fabs(predicted / sample_rate), 0.5e-6);  // the microsecond scale of UT1-UTC = 0.716 s

  const auto control = pair_fields(correlate(without, raw, "cor_without"), "ALPHA-DELTA");
  const auto corrected = pair_fields(correlate(with, raw, "cor_with"), "ALPHA-DELTA");
  ASSERT_FALSE(control.empty() || corrected.empty());
  const double control_delay = std::stod(control.at("delay_samples"));
  const double corrected_delay = std::stod(corrected.at("delay_samples"));
  std::cout << "korva_fringe delay without $EOP " << control_delay << " samples, with $EOP " << corrected_delay
            << " samples (snr " << corrected.at("snr") << ")\n";
  EXPECT_NEAR(control_delay, predicted, 0.05);
  EXPECT_LT(std::fabs(corrected_delay), 0.01);
  EXPECT_GT(std::stod(corrected.at("snr")), 100.0);
  EXPECT_GT(std::stod(control.at("snr")), 50.0);
}

TEST_F(EopEndToEnd, TheSimulatorRefusesAProcessTheLinesDoNotCover) {
  // Covered for the correlator (12:00:00 lies in 1999/002 .. 1999/003), but a
  // process ending at the last line would need the second after it.
  const fs::path edge = write("edge.sch", "$Terminal EOPTEST 4Msps/2bit/1ch\n"
                                          "$Station A ALPHA -2353621.22 -4641341.47 3677052.32\n"
                                          "$Source SRC1 12h29m06.6997 +02d03'08.598\n"
                                          "$Stream X1 SRC1 7.0e8 1 256 4\n"
                                          "$Process 1999/002 23:59:59 2 SRC1 A\n" + eop_lines);
  const int status = std::system((std::string(KORVA_SIM_PATH) + " --schedule=" + edge.string() + " --raw-dir=" +
                                  scratch.string() + " --quiet > " + (scratch / "edge.log").string() + " 2>&1")
                                     .c_str());
  EXPECT_NE(status, 0);
  EXPECT_NE(read_text(scratch / "edge.log").find("the $EOP lines do not cover"), std::string::npos)
      << read_text(scratch / "edge.log");
  EXPECT_FALSE(fs::exists(scratch / "ALPHA_1999002235959.raw"));
}

}  // namespace
