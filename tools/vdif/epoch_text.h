// UTC epochs as text: "%Y/%j %H:%M:%S" for people, "%Y%j%H%M%S" in raw-file
// names. (A local copy until the correlator's own helpers are shared.)
#pragma once

#include <cstdint>
#include <string>

namespace korva::vdif {

std::string epoch_text(int64_t utc);       // "2024/101 12:00:00"
std::string epoch_file_text(int64_t utc);  // "2024101120000"

}  // namespace korva::vdif
