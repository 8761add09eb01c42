// The receive chain's speed: the frame detector alone on noise and on frames
// back to back (Mbit/s of input), and the whole chain in frames per second.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <span>
#include <string_view>
#include <vector>

#include "app/downlink.hpp"
#include "app/station.hpp"
#include "wire/csp.hpp"
#include "wire/frame.hpp"
#include "wire/frame_detector.hpp"
#include "wire/kiss.hpp"

namespace kestrelis {

namespace {

constexpr size_t stream_bytes = 1 << 20;

std::vector<uint8_t> noise(size_t bytes, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::vector<uint8_t> out(bytes);
  for (auto& b : out) b = static_cast<uint8_t>(rng());
  return out;
}

// `bytes` shifted right by `bits` (0 ... 7), so that every frame byte
// straddles two input bytes.
std::vector<uint8_t> shifted(const std::vector<uint8_t>& bytes, int bits) {
  std::vector<uint8_t> out(bytes.size());
  unsigned carry = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    out[i] = static_cast<uint8_t>((carry << (8 - bits)) | (bytes[i] >> bits));
    carry = bytes[i] & ((1u << bits) - 1);
  }
  return out;
}

void set_bit_rate(benchmark::State& state, size_t bytes_per_iteration) {
  state.counters["Mbit/s"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * static_cast<double>(bytes_per_iteration) * 8e-6,
      benchmark::Counter::kIsRate);
}

void run_detector(benchmark::State& state, const std::vector<uint8_t>& stream, size_t datagram) {
  FrameDetector detector;
  size_t codewords = 0;
  FrameHandler handler;
  handler.codeword_complete = [&](std::span<const uint8_t> codeword, StreamPoint) {
    benchmark::DoNotOptimize(codeword.data());
    ++codewords;
  };
  for (auto _ : state) {
    for (size_t offset = 0; offset < stream.size(); offset += datagram) {
      const size_t size = std::min(datagram, stream.size() - offset);
      detect_frames(detector, std::span(stream).subspan(offset, size), handler);
    }
  }
  set_bit_rate(state, stream.size());
  state.counters["codewords/MB"] =
      static_cast<double>(codewords) / static_cast<double>(state.iterations());
}

void detector_noise(benchmark::State& state) {
  run_detector(state, noise(stream_bytes, 1), static_cast<size_t>(state.range(0)));
}
BENCHMARK(detector_noise)->Arg(2048)->Arg(65536);

// Frames of 255 codeword bytes one after the other, at bit phase 3.
void detector_back_to_back(benchmark::State& state) {
  std::vector<uint8_t> stream;
  const std::vector<uint8_t> codeword = noise(255, 2);
  while (stream.size() + 262 <= stream_bytes) {
    stream.insert(stream.end(), {0x93, 0x0B, 0x51, 0xDE, 0x21, 0x50, 0xFF});
    stream.insert(stream.end(), codeword.begin(), codeword.end());
  }
  stream.resize(stream_bytes, 0x55);
  run_detector(state, shifted(stream, 3), static_cast<size_t>(state.range(0)));
}
BENCHMARK(detector_back_to_back)->Arg(2048)->Arg(65536);

// The whole chain on telemetry records of satellite 1, layout version 5 (140
// bytes), each frame with `range(0)` damaged codeword bytes, fed to a station
// in datagrams of 2048 bytes as the receive thread would; the console and the
// GUI link go to sinks that discard their output.
void chain_telemetry_frames(benchmark::State& state) {
  constexpr size_t frames = 64;
  const auto damaged = static_cast<size_t>(state.range(0));
  const auto header = csp_header_bytes({.source = satellite_address,
                                        .destination = 0,
                                        .destination_port = telemetry_port,
                                        .source_port = 8});
  std::vector<uint8_t> stream;
  for (size_t i = 0; i < frames; ++i) {
    std::vector<uint8_t> record = noise(140, 10 + i);
    record[0] = 0x10;  // tlm_sat 1, version 5, telemetry
    record[1] = 0x28;
    std::vector<uint8_t> frame = build_frame(header, record);
    for (size_t k = 0; k < damaged; ++k) frame[frame_prefix_size + 11 * k] ^= 0x5A;
    stream.insert(stream.end(), frame.begin(), frame.end());
    stream.insert(stream.end(), 5, 0x55);
  }
  stream = shifted(stream, 5);

  Station station(TncConfig{}, Console{.verbose_level = 1, .sink = [](std::string_view) {}});
  // Counts the telemetry objects, so that a chain that stops short of the GUI
  // shows as an error instead of as a fast result.
  size_t telemetry_objects = 0;
  station.gui.sink = [&](std::span<const uint8_t> frame) {
    benchmark::DoNotOptimize(frame.data());
    if (frame.size() > 5 &&
        std::equal(gui_telemetry_prefix.begin(), gui_telemetry_prefix.end(), frame.begin() + 2)) {
      ++telemetry_objects;
    }
  };
  FrameDetector detector;
  for (auto _ : state) {
    for (size_t offset = 0; offset < stream.size(); offset += 2048) {
      receive_datagram(
          station, detector,
          std::span(stream).subspan(offset).first(std::min<size_t>(2048, stream.size() - offset)),
          0);
    }
  }
  if (telemetry_objects != static_cast<size_t>(state.iterations()) * frames) {
    state.SkipWithError("not every frame reached the GUI as telemetry");
  }
  state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * frames,
                                                  benchmark::Counter::kIsRate);
}
BENCHMARK(chain_telemetry_frames)->Arg(0)->Arg(16);

}  // namespace

}  // namespace kestrelis
