// fillgen: writes one raw data file of pseudo-random words for a station and
// a start epoch, so that the correlator can run without a recording.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "options.h"
#include "writer.h"

int main(int argc, char** argv) {
  setenv("TZ", "GMT", 1);
  tzset();

  fillgen::settings settings;
  if (argc <= 1) {
    std::fputs(fillgen::usage_text, stdout);
    return 0;
  }
  std::string error;
  switch (fillgen::read_options(argc, argv, settings, error)) {
    case fillgen::action::usage:
      std::fputs(fillgen::usage_text, stdout);
      return 0;
    case fillgen::action::version:
      std::fputs(fillgen::version_text, stdout);
      return 0;
    case fillgen::action::fail:
      std::fputs(error.c_str(), stderr);
      return 1;
    case fillgen::action::run:
      break;
  }
  return fillgen::write_raw_file(settings);
}
