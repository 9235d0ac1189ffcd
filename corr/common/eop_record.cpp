#include "eop_record.h"

namespace korva {

int eop_record_count(const eop_record* records) {
  int n = 0;
  while (n < max_eop_records && records[n].epoch != 0) ++n;
  return n;
}

bool eop_covered_span(const eop_record* records, int count, eop_span& span) {
  if (count < eop_interpolation_points) return false;
  span.first = records[1].epoch;
  span.last = records[count - 2].epoch;
  return true;
}

}  // namespace korva
