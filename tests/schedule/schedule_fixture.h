// Helpers of the schedule tests: zeroed tables on the heap, and schedule files
// written into a private temporary folder.
#pragma once

#include <memory>

#include "schedule.h"
#include "temporary_folder.h"

namespace korva::testing {

// The tables are large (a thousand sources and processes): never on the stack.
inline std::unique_ptr<schedule_tables> zeroed_tables() { return std::make_unique<schedule_tables>(); }

}  // namespace korva::testing
