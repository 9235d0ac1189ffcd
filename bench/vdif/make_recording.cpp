// Writes a VDIF recording of random 2-bit or 1-bit samples for the
// conversion benchmark: make_recording FILE MSPS BITS THREADS CHANNELS_PER_THREAD SECONDS
// (8032-byte frames, threads interleaved frame by frame, starting 2024/101 12:00:00).
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "vdif_header.h"

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr, "usage: make_recording FILE MSPS BITS THREADS CHANNELS_PER_THREAD SECONDS\n");
    return 1;
  }
  const long msps = std::atol(argv[2]), bits = std::atol(argv[3]), threads = std::atol(argv[4]);
  const long channels = std::atol(argv[5]), seconds = std::atol(argv[6]);
  const long data_bytes = 8000, thread_bytes = msps * 1000000 * bits * channels / 8;
  if (thread_bytes % data_bytes != 0) {
    std::fprintf(stderr, "make_recording: 8000-byte data arrays do not divide a thread's second\n");
    return 1;
  }
  std::FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr) return 1;
  const int64_t epoch = 1712750400;
  korva::vdif::frame_header h;
  h.reference_epoch = korva::vdif::reference_epoch_of(epoch);
  h.length_units = (data_bytes + 32) / 8;
  h.bits_per_sample = static_cast<uint32_t>(bits);
  h.log2_channels = static_cast<uint32_t>(__builtin_ctzl(static_cast<unsigned long>(channels)));
  std::vector<uint64_t> frame((data_bytes + 32) / 8);
  uint64_t state = 88172645463325252ull;
  for (long s = 0; s < seconds; ++s) {
    h.seconds = static_cast<uint32_t>(epoch + s - korva::vdif::reference_epoch_utc(h.reference_epoch));
    for (long f = 0; f < thread_bytes / data_bytes; ++f) {
      for (long t = 0; t < threads; ++t) {
        h.frame_number = static_cast<uint32_t>(f);
        h.thread_id = static_cast<uint32_t>(t);
        korva::vdif::encode_header(h, reinterpret_cast<uint8_t*>(frame.data()));
        for (size_t i = 4; i < frame.size(); ++i) {  // xorshift64
          state ^= state << 13;
          state ^= state >> 7;
          state ^= state << 17;
          frame[i] = state;
        }
        if (std::fwrite(frame.data(), 8, frame.size(), out) != frame.size()) return 1;
      }
    }
  }
  return std::fclose(out) == 0 ? 0 : 1;
}
