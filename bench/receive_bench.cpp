// The receive chain's speed: the frame detector alone on noise and on frames
// back to back (Mbit/s of input), and the whole chain in frames per second.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "app/console_log.hpp"
#include "gui/gui_link.hpp"
#include "packet/csp.hpp"
#include "radio/frame.hpp"
#include "radio/frame_detector.hpp"
#include "radio/receive.hpp"

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
// bytes), each frame with `range(0)` damaged codeword bytes; console and GUI
// output go to sinks that discard them.
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

  console_sink = [](std::string_view) {};
  gui_sink = [](std::span<const uint8_t> frame) { benchmark::DoNotOptimize(frame.data()); };
  FrameDetector detector;
  for (auto _ : state) {
    for (size_t offset = 0; offset < stream.size(); offset += 2048) {
      receive_bytes(detector, std::span(stream).subspan(offset).first(
                                  std::min<size_t>(2048, stream.size() - offset)));
    }
  }
  console_sink = nullptr;
  gui_sink = nullptr;
  state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * frames,
                                                  benchmark::Counter::kIsRate);
}
BENCHMARK(chain_telemetry_frames)->Arg(0)->Arg(16);

}  // namespace
