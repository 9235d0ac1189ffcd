#include "finals_file.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>

namespace korva::eop {

namespace {

constexpr int32_t mjd_of_1970 = 40587;

// Columns are 1-based byte positions; a short line gives an empty field.
std::string field(const std::string& line, size_t first_column, size_t width) {
  if (line.size() < first_column) return std::string();
  return line.substr(first_column - 1, width);
}

bool blank(const std::string& text) {
  return text.find_first_not_of(' ') == std::string::npos;
}

bool number(const std::string& text, double& value) {
  if (blank(text)) return false;
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  while (end != nullptr && *end == ' ') ++end;
  return end != nullptr && *end == '\0' && std::isfinite(value);
}

int64_t floor_day(int64_t t) { return t >= 0 ? t / 86400 : -((-t + 86399) / 86400); }

std::string day_text(int32_t mjd) {
  const std::time_t t = static_cast<std::time_t>(mjd_epoch(mjd));
  std::tm calendar{};
  gmtime_r(&t, &calendar);
  char text[32];
  std::strftime(text, sizeof text, "%Y/%j", &calendar);
  return text;
}

}  // namespace

int64_t mjd_epoch(int32_t mjd) { return (int64_t{mjd} - mjd_of_1970) * 86400; }

bool parse_finals_line(const std::string& line, finals_day& day) {
  double mjd = 0.0;
  if (!number(field(line, 8, 8), mjd) || mjd != std::floor(mjd)) return false;
  day = finals_day{};
  day.mjd = static_cast<int32_t>(mjd);
  day.has_pole = number(field(line, 19, 9), day.x_p) && number(field(line, 38, 9), day.y_p);
  day.has_ut1 = number(field(line, 59, 10), day.ut1_minus_utc);
  day.pole_predicted = field(line, 17, 1) == "P";
  day.ut1_predicted = field(line, 58, 1) == "P";
  return true;
}

bool needed_days(const schedule_tables& tables, day_range& range, std::string& error) {
  int64_t first = 0, last = 0;
  int processes = 0;
  for (int p = 0; p < max_processes && tables.processes[p].epoch != 0; ++p, ++processes) {
    const process_info& process = tables.processes[p];
    const int64_t start = process.epoch;
    const int64_t end = start + std::max(process.length, 1) - 1;
    first = processes == 0 ? start : std::min(first, start);
    last = processes == 0 ? end : std::max(last, end);
  }
  if (processes == 0) {
    error = "korva_eop: the schedule has no process";
    return false;
  }
  // One second either side as the simulator evaluates, then the day holding
  // it, a point before it and two after it (the interval's end and one beyond).
  range.first_mjd = static_cast<int32_t>(floor_day(first - 1) - 1 + mjd_of_1970);
  range.last_mjd = static_cast<int32_t>(floor_day(last + 1) + 2 + mjd_of_1970);
  return true;
}

bool eop_lines(const std::vector<finals_day>& days, const day_range& range, bool accept_predictions,
               const std::string& file_name, std::vector<std::string>& lines, std::string& error) {
  const int32_t count = range.last_mjd - range.first_mjd + 1;
  if (count > max_eop_records) {
    error = "korva_eop: the processes need " + std::to_string(count) + " days of values, more than the " +
            std::to_string(max_eop_records) + " $EOP lines a schedule holds";
    return false;
  }
  std::map<int32_t, const finals_day*> by_mjd;
  for (const finals_day& d : days) by_mjd[d.mjd] = &d;
  lines.clear();
  for (int32_t mjd = range.first_mjd; mjd <= range.last_mjd; ++mjd) {
    const auto found = by_mjd.find(mjd);
    if (found == by_mjd.end() || !found->second->has_pole || !found->second->has_ut1) {
      error = "korva_eop: [" + file_name + "] has no values for " + day_text(mjd) + " (MJD " +
              std::to_string(mjd) + "), needed for " + day_text(range.first_mjd) + " .. " +
              day_text(range.last_mjd);
      return false;
    }
    const finals_day& d = *found->second;
    if ((d.pole_predicted || d.ut1_predicted) && !accept_predictions) {
      error = "korva_eop: the values of " + day_text(mjd) + " in [" + file_name +
              "] are predictions; add --accept-predictions to use them";
      return false;
    }
    char text[96];
    std::snprintf(text, sizeof text, "$EOP %s 00:00:00 %.7f %.6f %.6f", day_text(mjd).c_str(), d.ut1_minus_utc,
                  d.x_p, d.y_p);
    lines.push_back(text);
  }
  return true;
}

}  // namespace korva::eop
