// Handler of the "$EOP" lines (Earth orientation: UT1-UTC and the pole
// coordinates at one UTC instant) and the check that they cover every
// correlated second.
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "epoch_text.h"
#include "schedule.h"
#include "schedule_words.h"

namespace korva {

namespace {

constexpr std::string_view eop_keyword = "$EOP";

// Leap seconds keep |UT1-UTC| below 0.9 s and the pole stays within 0.6" of
// its reference: larger values are a unit mistake (ms, mas), not the Earth.
constexpr double ut1_minus_utc_limit = 1.0;  // s
constexpr double pole_limit = 1.0;           // arcsec

int32_t fail(message_buffer& message, const char* format, const char* line) {
  write_message(message, format, line);
  return -1;
}

bool within(double value, double limit) { return value >= -limit && value <= limit; }

}  // namespace

int32_t append_eop(schedule_tables& tables, const char* line, message_buffer& message) {
  const int i = eop_record_count(tables.eop);
  if (i == max_eop_records) {
    write_message(message, "append_eop: Number of eop-info lines is over than %d [%s]", max_eop_records, line);
    return -1;
  }
  const word_list words = split_words(std::string_view(line + eop_keyword.size()));
  eop_record record{};
  if (words.count != 5 || !parse_epoch(words.word[0], words.word[1], record.epoch) ||
      !parse_real(words.word[2], record.ut1_minus_utc) || !parse_real(words.word[3], record.x_p) ||
      !parse_real(words.word[4], record.y_p)) {
    return fail(message, "append_eop: Syntax Error in eop-info [%s]", line);
  }
  if (record.epoch < eop_first_epoch) {
    return fail(message, "append_eop: Epoch of eop-info [%s] is before 1972/001, where the leap-second table begins",
                line);
  }
  if (!within(record.ut1_minus_utc, ut1_minus_utc_limit) || !within(record.x_p, pole_limit) ||
      !within(record.y_p, pole_limit)) {
    return fail(message, "append_eop: UT1-UTC (s) or pole coordinates (arcsec) of eop-info [%s] are not within +-1",
                line);
  }
  if (i > 0 && record.epoch <= tables.eop[i - 1].epoch) {
    return fail(message, "append_eop: Epoch of eop-info [%s] is not later than that of the line before", line);
  }
  tables.eop[i] = record;
  write_message(message, "append_eop: EOP-information[%s] Reading Success", line);
  return 1;
}

int32_t check_eop_coverage(const schedule_tables& tables, message_buffer& message) {
  const int count = eop_record_count(tables.eop);
  if (count == 0) return 1;
  eop_span span{};
  if (!eop_covered_span(tables.eop, count, span)) {
    write_message(message,
                  "korva_read_schedule: %d eop-info line(s) cannot be interpolated: 4-point interpolation "
                  "needs at least %d",
                  count, eop_interpolation_points);
    return -1;
  }
  for (int p = 0; p < max_processes && tables.processes[p].epoch != 0; ++p) {
    const process_info& process = tables.processes[p];
    if (process.length <= 0) continue;
    const int64_t first = process.epoch;
    const int64_t last = first + process.length - 1;
    const int64_t outside = first < span.first ? first : last > span.last ? last : 0;
    if (outside == 0) continue;
    const epoch_text second = schedule_epoch_text(static_cast<int32_t>(outside));
    const epoch_text from = schedule_epoch_text(static_cast<int32_t>(span.first));
    const epoch_text to = schedule_epoch_text(static_cast<int32_t>(span.last));
    write_message(message,
                  "korva_read_schedule: Second %s of process %d is outside %s .. %s, the span the eop-info "
                  "lines cover with a point on either side",
                  second.text, p + 1, from.text, to.text);
    return -1;
  }
  return 1;
}

}  // namespace korva
