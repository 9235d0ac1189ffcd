// The whole path through the programs: the simulator's recordings as VDIF,
// converted by korva_vdif, are byte for byte the simulator's raw files, in
// every terminal mode and both VDIF layouts; correlated, they give the same
// fringes; and invalid frames at two stations at the same moments lower the
// amplitude by the valid fraction without any false correlation of the fill.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "raw_simulator.h"
#include "vdif_header.h"
#include "vdif_writer.h"

namespace {

namespace fs = std::filesystem;
using report = std::map<std::string, std::map<std::string, double>>;  // by pair, then key

std::string tool(const char* variable, const char* built) {
  const char* override_path = std::getenv(variable);
  return override_path != nullptr ? override_path : built;
}

struct scratch_directory {
  fs::path path;
  scratch_directory() {
    std::string pattern = (fs::temp_directory_path() / "korva_vdif_e2e_XXXXXX").string();
    path = mkdtemp(pattern.data());
  }
  ~scratch_directory() { fs::remove_all(path); }
};

std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs a command; its exit status, with stdout and stderr in log.
int run(const std::string& command, const fs::path& log) {
  return std::system((command + " > '" + log.string() + "' 2>&1").c_str());
}

void write_text(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }

std::string schedule_text(int msps, int bits, int channels, int length, const std::string& stations) {
  return "$Terminal T " + std::to_string(msps) + "Msps/" + std::to_string(bits) + "bit/" + std::to_string(channels) +
         "ch\n"
         "$Station A ALPHA -3948382.481 3313086.283 3744779.842\n"
         "$Station B BRAVO -3957456.132 3250691.115 3789615.974\n"
         "$Station C CHARLIE -3934176.332 3360104.019 3717741.058\n"
         "$Source SRC1 12h29m06.6997 +02d03'08.598\n"
         "$Stream S1 SRC1 2.0e9 1 1024 4\n"
         "$Process 2024/101 12:00:00 " + std::to_string(length) + " SRC1 " + stations + "\n";
}

std::string convert_command(const fs::path& schedule, const std::string& code, const fs::path& raw_dir,
                            const fs::path& vdif) {
  return tool("KORVA_VDIF", KORVA_VDIF_PATH) + " --schedule=" + schedule.string() + " --process=1 --station=" + code +
         " --raw-dir=" + raw_dir.string() + " " + vdif.string();
}

TEST(VdifEndToEnd, ConversionOfSimulatedVdifIsTheSimulatorsRawFileInEveryModeAndLayout) {
  scratch_directory scratch;
  int compared = 0;
  for (int bits : {1, 2}) {
    for (int channels : {1, 2, 4, 8, 16}) {
      SCOPED_TRACE(::testing::Message() << bits << " bits, " << channels << " channels");
      const fs::path dir = scratch.path / (std::to_string(bits) + "_" + std::to_string(channels));
      fs::create_directories(dir / "sim");
      const fs::path schedule = dir / "s.sch";
      write_text(schedule, schedule_text(1, bits, channels, 1, "A"));
      auto tables = std::make_unique<korva::schedule_tables>();
      korva::message_buffer message;
      ASSERT_EQ(korva::korva_read_schedule(*tables, schedule.c_str(), message), 1) << message.text;
      korva::sim::simulation_options options;
      options.raw_dir = (dir / "sim").string();
      std::vector<korva::sim::simulated_file> written;
      std::vector<std::string> warnings;
      std::string error;
      ASSERT_TRUE(korva::sim::simulate_process(*tables, options, written, warnings, error)) << error;
      const fs::path simulated = written.at(0).path;
      for (auto layout : {korva::sim::vdif_layout::channels, korva::sim::vdif_layout::threads}) {
        const std::string name = layout == korva::sim::vdif_layout::threads ? "threads" : "channels";
        const fs::path vdif = dir / (name + ".vdif"), raw_dir = dir / name;
        fs::create_directories(raw_dir);
        korva::sim::vdif_format format;
        format.layout = layout;
        ASSERT_TRUE(korva::sim::write_vdif_from_raw(simulated.string(), vdif.string(), tables->terminal,
                                                    tables->processes[0].epoch, "A", format, error))
            << error;
        ASSERT_EQ(run(convert_command(schedule, "A", raw_dir, vdif), dir / "log"), 0) << read_text(dir / "log");
        EXPECT_EQ(read_text(raw_dir / "ALPHA_2024101120000.raw"), read_text(simulated)) << name;
        ++compared;
      }
    }
  }
  EXPECT_EQ(compared, 20);
}

report parse_report(const std::string& text) {
  report r;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::map<std::string, std::string> fields;
    std::istringstream words(line);
    for (std::string word; words >> word;) {
      const size_t equals = word.find('=');
      if (equals != std::string::npos) fields[word.substr(0, equals)] = word.substr(equals + 1);
    }
    if (fields.count("pair") == 0) continue;
    for (const auto& [key, value] : fields) {
      if (key != "pair") r[fields["pair"]][key] = std::strtod(value.c_str(), nullptr);
    }
  }
  return r;
}

// Sets the invalid flag of every frame whose frame number is below limit.
void invalidate_frames(const fs::path& vdif, uint32_t limit) {
  std::string bytes = read_text(vdif);
  auto* data = reinterpret_cast<uint8_t*>(bytes.data());
  korva::vdif::frame_header h;
  for (size_t at = 0; korva::vdif::decode_header(data + at, bytes.size() - at, h); at += h.frame_bytes()) {
    if (h.frame_number < limit) data[at + 3] |= 0x80;
  }
  std::ofstream(vdif, std::ios::binary) << bytes;
}

class VdifFringes : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    scratch_ = new scratch_directory();
    write_text(schedule(), schedule_text(1, 2, 4, 4, "ABC"));
    fs::create_directories(dir("sim_raw"));
    fs::create_directories(dir("sim_vdif"));
    const std::string sim = tool("KORVA_SIM", KORVA_SIM_PATH) + " --schedule=" + schedule().string() +
                            " --seed=11 --correlation=0.3 --quiet --raw-dir=";
    ASSERT_EQ(run(sim + dir("sim_raw").string(), dir("sim.log")), 0) << read_text(dir("sim.log"));
    ASSERT_EQ(run(sim + dir("sim_vdif").string() + " --format=vdif --vdif-layout=threads", dir("sim.log")), 0)
        << read_text(dir("sim.log"));
  }
  static void TearDownTestSuite() {
    delete scratch_;
    scratch_ = nullptr;
  }
  static fs::path dir(const std::string& name) { return scratch_->path / name; }
  static fs::path schedule() { return dir("s.sch"); }

  // Converts the three stations' VDIF files into raw, then correlates.
  static report convert_and_correlate(const fs::path& vdif_dir, const std::string& name) {
    const fs::path raw = dir(name + "_raw"), cor = dir(name + "_cor");
    fs::create_directories(raw);
    fs::create_directories(cor);
    for (const char* station : {"A", "B", "C"}) {
      const std::string file = std::string(station) == "A" ? "ALPHA" : std::string(station) == "B" ? "BRAVO" : "CHARLIE";
      EXPECT_EQ(run(convert_command(schedule(), station, raw, vdif_dir / (file + "_2024101120000.vdif")), dir("vdif.log")), 0)
          << read_text(dir("vdif.log"));
    }
    return correlate(raw, cor);
  }

  static report correlate(const fs::path& raw, const fs::path& cor) {
    fs::create_directories(cor);
    EXPECT_EQ(run(tool("KORVA_CORR", KORVA_CORR_PATH) + " --schedule=" + schedule().string() + " --raw-dir=" +
                      raw.string() + " --cor-dir=" + cor.string() + " --multi=2",
                  dir("corr.log")),
              0)
        << read_text(dir("corr.log"));
    EXPECT_EQ(run("/usr/bin/python3 " + tool("KORVA_FRINGE", KORVA_FRINGE_PATH) + " --format=kv --cor-dir=" + cor.string(),
                  dir("fringe.txt")),
              0)
        << read_text(dir("fringe.txt"));
    return parse_report(read_text(dir("fringe.txt")));
  }

  static scratch_directory* scratch_;
};

scratch_directory* VdifFringes::scratch_ = nullptr;
const char* const pairs[] = {"ALPHA-BRAVO", "ALPHA-CHARLIE", "BRAVO-CHARLIE"};

TEST_F(VdifFringes, ConvertedRecordingsGiveTheFringesOfTheRawFilesByteForByte) {
  const report converted = convert_and_correlate(dir("sim_vdif"), "clean");
  ASSERT_EQ(converted.size(), 3u);
  // Weak-signal expectation: correlation 0.3 times the 2-bit efficiency 0.8811.
  for (const char* pair : pairs) {
    SCOPED_TRACE(pair);
    EXPECT_NEAR(converted.at(pair).at("amplitude") / (0.3 * 0.8811), 1.0, 0.10);
    EXPECT_LT(std::abs(converted.at(pair).at("delay_samples")), 0.05);
    EXPECT_GT(converted.at(pair).at("snr"), 300.0);
  }
  correlate(dir("sim_raw"), dir("direct_cor"));
  int files = 0;
  for (const auto& entry : fs::directory_iterator(dir("direct_cor"))) {
    EXPECT_EQ(read_text(entry.path()), read_text(dir("clean_cor") / entry.path().filename())) << entry.path();
    ++files;
  }
  EXPECT_EQ(files, 6);  // three auto and three cross files
}

TEST_F(VdifFringes, InvalidFramesAtTwoStationsAtOnceLowerTheAmplitudeByTheValidFraction) {
  const report clean = convert_and_correlate(dir("sim_vdif"), "clean_again");
  // ALPHA and BRAVO lose the first 20 of 50 frames of every second, at the same moments.
  const fs::path faulty = dir("faulty_vdif");
  fs::create_directories(faulty);
  for (const char* name : {"ALPHA", "BRAVO", "CHARLIE"}) {
    const std::string file = std::string(name) + "_2024101120000.vdif";
    fs::copy_file(dir("sim_vdif") / file, faulty / file);
    if (std::string(name) != "CHARLIE") invalidate_frames(faulty / file, 20);
  }
  const report filled = convert_and_correlate(faulty, "faulty");
  ASSERT_EQ(filled.size(), 3u);
  EXPECT_NE(read_text(dir("vdif.log")).find("valid 1.000000"), std::string::npos);  // CHARLIE untouched
  for (const char* pair : pairs) {
    SCOPED_TRACE(pair);
    // Fill at both stations at once: correlated fill would add (1 - 0.6)
    // of full correlation, 0.4 / 0.264 = 1.5 times the signal's.
    EXPECT_NEAR(filled.at(pair).at("amplitude") / clean.at(pair).at("amplitude"), 0.6, 0.03);
    EXPECT_LT(std::abs(filled.at(pair).at("delay_samples")), 0.05);
  }
}

}  // namespace
