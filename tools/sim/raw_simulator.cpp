#include "raw_simulator.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

#include "delay_track.h"
#include "gaussian_noise.h"
#include "message_buffer.h"
#include "raw_file.h"
#include "recording_mode.h"
#include "sample_packer.h"
#include "station_simulator.h"

namespace korva::sim {
namespace {

// The raw file's path exactly as the correlator looks for it.
std::string raw_path(const std::string& raw_dir, const station_info& station, int32_t epoch) {
  const int length = raw_file_path(nullptr, 0, raw_dir.c_str(), station, epoch);
  std::string path(static_cast<size_t>(length), '\0');
  raw_file_path(path.data(), path.size() + 1, raw_dir.c_str(), station, epoch);
  return path;
}

bool check_terminal(const terminal_info& terminal, std::string& error) {
  switch (check_mode(terminal_mode(terminal))) {
    case stream_fault::none:
      return true;
    case stream_fault::no_decoder:
      error = "korva_sim: terminal mode " + std::to_string(terminal.bits) + "bit/" +
              std::to_string(terminal.channels) + "ch is not a recording mode (1 or 2 bits, 1, 2, 4, 8 or 16 channels)";
      return false;
    default:
      error = "korva_sim: sample rate " + std::to_string(terminal.sample_rate) +
              " does not give whole 32-bit words per second below 2^32 bit/s";
      return false;
  }
}

// The source of the process, or that of the first stream naming a known one.
int resolve_source(const schedule_tables& tables, const process_info& process, std::string& error) {
  message_buffer message;
  int index = find_source(tables.sources, field_text(process.source).text, message);
  for (int s = 0; index < 0 && s < stream_count(tables); ++s) {
    index = find_source(tables.sources, field_text(tables.streams[s].source).text, message);
  }
  if (index < 0) {
    error = std::string("korva_sim: source [") + field_text(process.source).text + "] of the process is not in the schedule";
  }
  return index;
}

void store_little_endian(std::vector<uint32_t>& words) {
  if constexpr (std::endian::native == std::endian::big) {
    for (uint32_t& w : words) w = __builtin_bswap32(w);
  }
}

bool write_station(const schedule_tables& tables, const process_info& process, int station,
                   const source_info& source, const std::vector<double>& channel_frequency,
                   const simulation_options& options, const earth_orientation_series* eop,
                   simulated_file& file, std::string& error) {
  const terminal_info& terminal = tables.terminal;
  file.station = field_text(tables.stations[station].name).text;
  file.path = raw_path(options.raw_dir, tables.stations[station], process.epoch);

  delay_track track(tables.stations[station], source, tables.clocks[station], process.epoch,
                    options.with_clock, eop);
  const delay_value start = track.at(0.0L);
  file.start_delay = static_cast<double>(start.tau);
  file.start_rate = static_cast<double>(start.rate);

  std::vector<std::unique_ptr<gaussian_noise>> sources;
  std::vector<channel_plan> plans(terminal.channels);
  for (int h = 0; h < terminal.channels; ++h) {
    sources.push_back(std::make_unique<gaussian_noise>(noise_key(options.seed, 1000 + station, h)));
    plans[h].noise = sources.back().get();
    if (channel_frequency[h] != 0.0) {
      sources.push_back(std::make_unique<gaussian_noise>(noise_key(options.seed, 0, h)));
      plans[h].common = sources.back().get();
      plans[h].sky_frequency = channel_frequency[h];
    }
  }
  station_simulator simulator(track, terminal.sample_rate, plans, options.correlation);

  std::FILE* out = std::fopen(file.path.c_str(), "wb");
  if (out == nullptr) {
    error = "korva_sim: can't create the raw file [" + file.path + "]: " + std::strerror(errno);
    return false;
  }
  const int32_t block = simulator.block_size();
  const int32_t per_word = samples_per_word(terminal.bits, terminal.channels);
  std::vector<std::vector<float>> samples(terminal.channels, std::vector<float>(block));
  std::vector<float*> pointers;
  for (auto& s : samples) pointers.push_back(s.data());
  std::vector<uint32_t> words(block / per_word);

  const int64_t total = static_cast<int64_t>(process.length) * terminal.sample_rate;
  bool ok = true;
  for (int64_t first = 0; ok && first < total; first += block) {
    const int32_t n = static_cast<int32_t>(std::min<int64_t>(block, total - first));
    simulator.generate(first, n, pointers.data());
    pack_samples(pointers.data(), n, terminal.bits, terminal.channels, words.data());
    const size_t word_count = static_cast<size_t>(n / per_word);
    store_little_endian(words);
    ok = std::fwrite(words.data(), 4, word_count, out) == word_count;
    file.bytes += static_cast<int64_t>(word_count) * 4;
  }
  if (std::fclose(out) != 0) ok = false;
  if (!ok) error = "korva_sim: writing the raw file [" + file.path + "] failed: " + std::strerror(errno);
  return ok;
}

}  // namespace

bool plan_channels(const schedule_tables& tables, std::vector<double>& channel_frequency,
                   std::vector<std::string>& warnings, std::string& error) {
  const int channels = tables.terminal.channels;
  channel_frequency.assign(channels, 0.0);
  bool any = false;
  for (int s = 0; s < stream_count(tables); ++s) {
    const stream_info& stream = tables.streams[s];
    const std::string name = field_text(stream.name).text;
    if (stream.channel < 1 || stream.channel > channels) {
      warnings.push_back("stream " + name + " names channel " + std::to_string(stream.channel) +
                         ", which the terminal does not have: not simulated");
      continue;
    }
    double& frequency = channel_frequency[stream.channel - 1];
    if (frequency != 0.0 && frequency != stream.frequency) {
      warnings.push_back("stream " + name + " shares channel " + std::to_string(stream.channel) +
                         " with another sky frequency: the first stream's is simulated");
      continue;
    }
    if (stream.frequency <= 0.0) {
      warnings.push_back("stream " + name + " has no positive sky frequency: not simulated");
      continue;
    }
    frequency = stream.frequency;
    any = true;
  }
  if (!any) {
    error = "korva_sim: the schedule has no stream within the terminal's channels";
    return false;
  }
  return true;
}

bool simulate_process(const schedule_tables& tables, const simulation_options& options,
                      std::vector<simulated_file>& written, std::vector<std::string>& warnings,
                      std::string& error) {
  if (!(options.correlation >= 0.0 && options.correlation <= 1.0)) {
    error = "korva_sim: the correlation must lie in 0..1";
    return false;
  }
  const int processes = process_count(tables);
  if (options.process_number < 1 || options.process_number > processes) {
    error = "korva_sim: process " + std::to_string(options.process_number) + " is not in the schedule (" +
            std::to_string(processes) + " processes)";
    return false;
  }
  const process_info& process = tables.processes[options.process_number - 1];
  if (process.length < 0) {
    error = "korva_sim: the process has a negative length";
    return false;
  }
  if (!check_terminal(tables.terminal, error)) return false;
  std::vector<double> channel_frequency;
  if (!plan_channels(tables, channel_frequency, warnings, error)) return false;
  const int source = resolve_source(tables, process, error);
  if (source < 0) return false;

  // The schedule's Earth orientation, if it has any, is the true Earth of the data.
  const earth_orientation_series eop_series(tables.eop);
  const bool with_eop = eop_record_count(tables.eop) > 0;
  if (with_eop && !eop_covers_process(eop_series, process, error)) return false;

  std::vector<int> stations;
  for (int station = 0; station < station_count(tables); ++station) {
    if (station_takes_part(tables, process, station)) stations.push_back(station);
  }
  if (stations.empty()) {
    error = "korva_sim: no station of the schedule takes part in the process";
    return false;
  }

  // Each station is independent; workers take stations in turn.
  std::vector<simulated_file> files(stations.size());
  std::vector<std::string> errors(stations.size());
  std::vector<char> done(stations.size(), 0);
  auto work = [&](size_t first, size_t stride) {
    for (size_t i = first; i < stations.size(); i += stride) {
      done[i] = write_station(tables, process, stations[i], tables.sources[source],
                              channel_frequency, options, with_eop ? &eop_series : nullptr, files[i],
                              errors[i]);
    }
  };
  const size_t threads = std::clamp<size_t>(static_cast<size_t>(std::max(options.threads, 1)), 1,
                                            stations.size());
  std::vector<std::thread> workers;
  for (size_t k = 1; k < threads; ++k) workers.emplace_back(work, k, threads);
  work(0, threads);
  for (std::thread& w : workers) w.join();

  for (size_t i = 0; i < stations.size(); ++i) {
    if (!done[i]) {
      error = errors[i];
      return false;
    }
    written.push_back(files[i]);
  }
  return true;
}

}  // namespace korva::sim
