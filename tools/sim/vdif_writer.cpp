#include "vdif_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "vdif_header.h"

namespace korva::sim {
namespace {

using file_handle = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

int32_t thread_count(const terminal_info& t, const vdif_format& f) {
  return f.layout == vdif_layout::threads ? t.channels : 1;
}

int64_t thread_bytes_per_second(const terminal_info& t, const vdif_format& f) {
  return int64_t{t.sample_rate} * t.bits * t.channels / thread_count(t, f) / 8;
}

bool fits(int64_t data_bytes, int64_t per_second) {
  return data_bytes > 0 && data_bytes % 8 == 0 && per_second % data_bytes == 0;
}

uint32_t read_le(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// Sample code of channel h at instant i of one second of raw words: channel
// h's field starts at bit h * 32 / M, instant k of a word B bits further on.
uint32_t raw_sample(const uint8_t* raw, int64_t i, int h, int bits, int channels) {
  const int64_t per_word = 32 / (bits * channels);
  const uint32_t word = read_le(raw + 4 * (i / per_word));
  const int shift = h * (32 / channels) + bits * static_cast<int>(i % per_word);
  return (word >> shift) & ((1u << bits) - 1u);
}

// Puts a code at sample position n (from the least significant bit up) of a
// VDIF data stream.
void put_sample(uint8_t* data, int64_t n, uint32_t code, int bits) {
  const int64_t bit = n * bits;
  data[bit / 8] |= static_cast<uint8_t>(code << (bit % 8));
}

uint32_t station_id(const std::string& code) {
  const uint32_t first = code.size() > 0 ? static_cast<unsigned char>(code[0]) : 0;
  const uint32_t second = code.size() > 1 ? static_cast<unsigned char>(code[1]) : 0;
  return first << 8 | second;
}

}  // namespace

bool choose_frame_bytes(const terminal_info& terminal, const vdif_format& format, int32_t& frame_bytes,
                        std::string& error) {
  const int64_t per_second = thread_bytes_per_second(terminal, format);
  const int64_t header = static_cast<int64_t>(vdif::full_header_bytes);
  if (format.frame_bytes > 0) {
    frame_bytes = format.frame_bytes;
    if (fits(frame_bytes - header, per_second) && frame_bytes - header <= per_second) return true;
    error = "korva_sim: VDIF frames of " + std::to_string(frame_bytes) + " bytes do not fit: the data array (" +
            std::to_string(frame_bytes - header) + " bytes) must be a multiple of 8 that divides the thread's " +
            std::to_string(per_second) + " bytes per second";
    return false;
  }
  for (int64_t data = 8000; data >= 8; data -= 8) {
    if (fits(data, per_second)) {
      frame_bytes = static_cast<int32_t>(data + header);
      return true;
    }
  }
  error = "korva_sim: no VDIF frame length fits the thread's " + std::to_string(per_second) + " bytes per second";
  return false;
}

bool write_vdif_from_raw(const std::string& raw_path, const std::string& vdif_path, const terminal_info& terminal,
                         int32_t epoch, const std::string& station_code, const vdif_format& format,
                         std::string& error) {
  int32_t frame_bytes = 0;
  if (!choose_frame_bytes(terminal, format, frame_bytes, error)) return false;
  const int bits = terminal.bits, channels = terminal.channels;
  const int threads = thread_count(terminal, format);
  const int thread_channels = channels / threads;
  const size_t second_bytes = static_cast<size_t>(int64_t{terminal.sample_rate} * bits * channels / 8);
  const size_t data_bytes = static_cast<size_t>(frame_bytes) - vdif::full_header_bytes;
  const size_t thread_bytes = second_bytes / static_cast<size_t>(threads);
  const uint32_t frames = static_cast<uint32_t>(thread_bytes / data_bytes);

  file_handle in(std::fopen(raw_path.c_str(), "rb"), std::fclose);
  file_handle out(std::fopen(vdif_path.c_str(), "wb"), std::fclose);
  if (!in || !out) {
    error = "korva_sim: can't rewrite [" + raw_path + "] as [" + vdif_path + "]: " + std::strerror(errno);
    return false;
  }
  vdif::frame_header header;
  header.reference_epoch = vdif::reference_epoch_of(epoch);
  header.log2_channels = static_cast<uint32_t>(__builtin_ctz(static_cast<unsigned>(thread_channels)));
  header.length_units = static_cast<uint32_t>(frame_bytes / 8);
  header.bits_per_sample = static_cast<uint32_t>(bits);
  header.station_id = station_id(station_code);

  std::vector<uint8_t> raw(second_bytes);
  std::vector<std::vector<uint8_t>> thread_data(static_cast<size_t>(threads));
  uint8_t header_bytes[vdif::full_header_bytes];
  for (int64_t second = epoch; std::fread(raw.data(), 1, raw.size(), in.get()) == raw.size(); ++second) {
    for (int t = 0; t < threads; ++t) {
      std::vector<uint8_t>& data = thread_data[static_cast<size_t>(t)];
      data.assign(thread_bytes, 0);
      for (int64_t i = 0; i < terminal.sample_rate; ++i) {
        for (int c = 0; c < thread_channels; ++c) {
          put_sample(data.data(), i * thread_channels + c, raw_sample(raw.data(), i, t * thread_channels + c, bits, channels), bits);
        }
      }
    }
    header.seconds = static_cast<uint32_t>(second - vdif::reference_epoch_utc(header.reference_epoch));
    for (uint32_t f = 0; f < frames; ++f) {
      for (int t = 0; t < threads; ++t) {
        header.frame_number = f;
        header.thread_id = static_cast<uint32_t>(t);
        vdif::encode_header(header, header_bytes);
        if (std::fwrite(header_bytes, 1, sizeof header_bytes, out.get()) != sizeof header_bytes ||
            std::fwrite(thread_data[static_cast<size_t>(t)].data() + f * data_bytes, 1, data_bytes, out.get()) != data_bytes) {
          error = "korva_sim: writing [" + vdif_path + "] failed: " + std::strerror(errno);
          return false;
        }
      }
    }
  }
  if (std::fclose(out.release()) != 0) {
    error = "korva_sim: writing [" + vdif_path + "] failed: " + std::strerror(errno);
    return false;
  }
  return true;
}

bool rewrite_as_vdif(const schedule_tables& tables, int32_t process_number, const vdif_format& format,
                     std::vector<simulated_file>& written, std::string& error) {
  const process_info& process = tables.processes[process_number - 1];
  for (simulated_file& file : written) {
    std::string code;
    for (int s = 0; s < station_count(tables); ++s) {
      if (std::strncmp(tables.stations[s].name, file.station.c_str(), sizeof tables.stations[s].name) == 0) {
        code.assign(tables.codes[s].code, strnlen(tables.codes[s].code, sizeof tables.codes[s].code));
      }
    }
    const std::filesystem::path raw = file.path;
    const std::string vdif_path = std::filesystem::path(raw).replace_extension(".vdif").string();
    if (!write_vdif_from_raw(file.path, vdif_path, tables.terminal, process.epoch, code, format, error)) return false;
    std::filesystem::remove(raw);
    file.path = vdif_path;
    file.bytes = static_cast<int64_t>(std::filesystem::file_size(vdif_path));
  }
  return true;
}

}  // namespace korva::sim
