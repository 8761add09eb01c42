// The receive chain's speed: the frame detector alone on noise and on frames
// back to back (Mbit/s of input), and the whole chain in frames per second.

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "radio/frame_detector.hpp"

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
      detect_frames(detector, std::span(stream).subspan(offset).first(datagram), handler);
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

}  // namespace
