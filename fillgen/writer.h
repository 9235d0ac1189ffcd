// Writing of one raw data file: headerless one-second blocks of little-endian
// 32-bit words, block k holding the MT19937 outputs seeded with epoch + k.
#pragma once

#include <cstdint>
#include <string>

#include "options.h"

namespace fillgen {

// "<station>_<YYYYDDDHHMMSS>.raw" for the UTC epoch (TZ must be GMT).
std::string raw_file_name(const std::string& station, int64_t epoch);

// Fills words[0..count) with the outputs of MT19937 seeded with second's low
// 32 bits, stored little-endian whatever the host's byte order.
void fill_second(uint32_t* words, std::size_t count, int64_t second);

// Creates the file in the current directory and writes every second. Returns
// the exit status: 0, or 1 after printing the failure on standard error.
int write_raw_file(const settings& s);

}  // namespace fillgen
