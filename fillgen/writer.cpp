#include "writer.h"

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "mt19937.h"

namespace fillgen {

std::string raw_file_name(const std::string& station, int64_t epoch) {
  const std::time_t seconds = static_cast<std::time_t>(epoch);
  std::tm utc{};
  char epoch_text[64] = "";
  if (gmtime_r(&seconds, &utc) != nullptr) {
    std::strftime(epoch_text, sizeof epoch_text, "%Y%j%H%M%S", &utc);
  }
  return station + "_" + epoch_text + ".raw";
}

void fill_second(uint32_t* words, std::size_t count, int64_t second) {
  mt19937 generator(static_cast<uint32_t>(static_cast<uint64_t>(second)));
  generator.fill(words, count);
  if constexpr (std::endian::native == std::endian::big) {
    for (std::size_t i = 0; i < count; ++i) words[i] = __builtin_bswap32(words[i]);
  }
}

int write_raw_file(const settings& s) {
  const std::string name = raw_file_name(s.station, s.epoch);
  std::FILE* file = std::fopen(name.c_str(), "w");
  if (file == nullptr) {
    std::fprintf(stderr, "Fillgen : Create Raw-File [%s] Error!\n", name.c_str());
    return 1;
  }
  const std::size_t words = static_cast<std::size_t>(s.block);
  const std::size_t bytes = words * 4;
  auto* buffer = static_cast<uint32_t*>(std::malloc(bytes));
  if (buffer == nullptr) {
    std::fprintf(stderr, "Fillgen : Memory Allocation Error!\n");
    std::fclose(file);
    return 1;
  }
  // Counting seconds from 0 keeps epoch + k free of overflow for any length.
  for (int64_t k = 0; k < s.length; ++k) {
    const int64_t second = static_cast<int64_t>(static_cast<uint64_t>(s.epoch) + static_cast<uint64_t>(k));
    fill_second(buffer, words, second);
    if (std::fwrite(buffer, bytes, 1, file) != 1) {
      std::fprintf(stderr, "Fillgen : Write Raw-File [%s] Error!\n", name.c_str());
      std::fclose(file);
      std::free(buffer);
      return 1;
    }
  }
  std::free(buffer);
  // Buffered bytes reach the file only here: a failed close is a failed write.
  if (std::fclose(file) != 0) {
    std::fprintf(stderr, "Fillgen : Write Raw-File [%s] Error!\n", name.c_str());
    return 1;
  }
  return 0;
}

}  // namespace fillgen
