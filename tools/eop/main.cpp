// korva_eop: prints the "$EOP" lines (UT1-UTC and pole coordinates at 0 h
// UTC of each day) that cover a schedule's processes, from an IERS
// finals2000A file, for the user to append to the schedule.
#include <getopt.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "finals_file.h"
#include "message_buffer.h"
#include "schedule.h"

namespace {

constexpr const char* usage_text =
    "Usage: korva_eop --finals=<finals2000A file> --schedule=<file> [--accept-predictions]\n"
    "Prints the $EOP lines (UT1-UTC s, x_p and y_p arcsec at 0 h UTC of each day, the\n"
    "IERS Bulletin A values) that cover every process of the schedule for 4-point\n"
    "interpolation, for appending to the schedule. Run it on the schedule without\n"
    "$EOP lines.\n"
    "  --finals              IERS finals2000A file (finals2000A.all, .data or .daily)\n"
    "  --schedule            correlation schedule\n"
    "  --accept-predictions  accept predicted values (flag P) instead of refusing them\n"
    "  --help                this text\n";

int fail(const std::string& message) {
  std::fprintf(stderr, "%s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("TZ", "GMT", 1);
  tzset();
  enum { opt_finals = 1, opt_schedule, opt_accept, opt_help };
  static const option long_options[] = {{"finals", required_argument, nullptr, opt_finals},
                                        {"schedule", required_argument, nullptr, opt_schedule},
                                        {"accept-predictions", no_argument, nullptr, opt_accept},
                                        {"help", no_argument, nullptr, opt_help},
                                        {nullptr, 0, nullptr, 0}};
  std::string finals_path, schedule_path;
  bool accept_predictions = false;
  opterr = 0;
  int code;
  while ((code = getopt_long(argc, argv, "", long_options, nullptr)) != -1) {
    switch (code) {
      case opt_finals: finals_path = optarg; break;
      case opt_schedule: schedule_path = optarg; break;
      case opt_accept: accept_predictions = true; break;
      case opt_help: std::fputs(usage_text, stdout); return 0;
      default:
        return fail(std::string("korva_eop: unknown option or missing argument [") + argv[optind - 1] +
                    "] (see --help)");
    }
  }
  if (optind < argc) return fail(std::string("korva_eop: unexpected argument [") + argv[optind] + "]");
  if (finals_path.empty() || schedule_path.empty()) {
    return fail("korva_eop: --finals and --schedule are required (see --help)");
  }

  auto tables = std::make_unique<korva::schedule_tables>();
  korva::message_buffer message;
  if (korva::korva_read_schedule(*tables, schedule_path.c_str(), message) != 1) {
    return fail(std::string("korva_eop: ") + message.text);
  }
  korva::eop::day_range range{};
  std::string error;
  if (!korva::eop::needed_days(*tables, range, error)) return fail(error);

  std::ifstream finals(finals_path);
  if (!finals) return fail("korva_eop: can't open the finals file [" + finals_path + "]");
  std::vector<korva::eop::finals_day> days;
  for (std::string line; std::getline(finals, line);) {
    korva::eop::finals_day day;
    if (korva::eop::parse_finals_line(line, day) && day.mjd >= range.first_mjd && day.mjd <= range.last_mjd) {
      days.push_back(day);
    }
  }
  std::vector<std::string> lines;
  if (!korva::eop::eop_lines(days, range, accept_predictions, finals_path, lines, error)) return fail(error);
  std::printf("# Earth orientation at 0 h UTC (IERS finals2000A, Bulletin A): date time UT1-UTC(s) x_p(\") y_p(\")\n");
  for (const std::string& l : lines) std::printf("%s\n", l.c_str());
  return 0;
}
