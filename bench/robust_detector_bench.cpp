// The robust frame search on noise against the described detector: input
// throughput in Gbit/s, the false candidates noise gives at each sync word
// tolerance, and the ratio robust / described on the same bytes.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <span>
#include <vector>

#include "packet/packet_check.hpp"
#include "platform/clock.hpp"
#include "wire/frame_detector.hpp"
#include "wire/robust_detector.hpp"

namespace kestrelis {

namespace {

constexpr size_t stream_bytes = 1 << 20;
constexpr size_t datagram = 2048;

const std::vector<uint8_t>& noise() {
  static const std::vector<uint8_t> bytes = [] {
    std::mt19937_64 rng(7);
    std::vector<uint8_t> out(stream_bytes);
    for (auto& b : out) b = static_cast<uint8_t>(rng());
    return out;
  }();
  return bytes;
}

// What the downlink does with a codeword: correct it and check its packet.
bool decodes(std::span<const uint8_t> codeword) {
  const DecodedCodeword word = decode_codeword(codeword);
  return word.corrected >= 0 && packet_accepted(check_packet(word.packet()).verdict);
}

void feed(std::span<const uint8_t> stream, auto&& detect) {
  for (size_t offset = 0; offset < stream.size(); offset += datagram) {
    detect(stream.subspan(offset, std::min(datagram, stream.size() - offset)));
  }
}

void run_described(FrameDetector& detector, std::span<const uint8_t> stream, bool decode) {
  FrameHandler handler;
  handler.codeword_complete = [decode](std::span<const uint8_t> codeword, StreamPoint) {
    benchmark::DoNotOptimize(decode && decodes(codeword));
  };
  feed(stream, [&](std::span<const uint8_t> bytes) { detect_frames(detector, bytes, handler); });
}

void run_robust(RobustDetector& detector, std::span<const uint8_t> stream, bool decode) {
  RobustHandler handler;
  handler.try_codeword = [decode](std::span<const uint8_t> codeword, const RobustCandidate&) {
    return decode && decodes(codeword);
  };
  feed(stream, [&](std::span<const uint8_t> bytes) { robust_detect(detector, bytes, handler); });
}

void set_rates(benchmark::State& state) {
  state.counters["Gbit/s"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * stream_bytes * 8e-9, benchmark::Counter::kIsRate);
}

// range(0): 1 to decode every codeword handed out, 0 to drop it.
void described_noise(benchmark::State& state) {
  FrameDetector detector;
  for (auto _ : state) run_described(detector, noise(), state.range(0) != 0);
  set_rates(state);
}
BENCHMARK(described_noise)->Arg(0)->Arg(1);

// range(0): sync_bit_errors; range(1): 1 to decode every codeword offered,
// 0 to refuse it unseen (the search alone).
void robust_noise(benchmark::State& state) {
  RobustDetector detector;
  detector.sync_bit_errors = static_cast<int>(state.range(0));
  for (auto _ : state) run_robust(detector, noise(), state.range(1) != 0);
  set_rates(state);
  const double megabits = static_cast<double>(state.iterations()) * stream_bytes * 8e-6;
  const RobustCounts& c = detector.counts;
  state.counters["sync/Mbit"] = static_cast<double>(c.sync_words) / megabits;
  state.counters["with_length/Mbit"] =
      static_cast<double>(c.sync_words - c.length_rejections) / megabits;
  state.counters["four_error/Mbit"] = static_cast<double>(c.four_error_fields) / megabits;
  state.counters["offered/Mbit"] = static_cast<double>(c.codewords_offered) / megabits;
}
BENCHMARK(robust_noise)->ArgsProduct({{2, 3, 4, 5, 6, 8}, {0, 1}});

// Both on the same noise, datagram by datagram in turn so that other load on
// the machine falls on both alike, each call timed; codewords decoded by both.
void robust_over_described(benchmark::State& state) {
  FrameDetector described;
  RobustDetector robust;
  FrameHandler described_handler;
  described_handler.codeword_complete = [](std::span<const uint8_t> codeword, StreamPoint) {
    benchmark::DoNotOptimize(decodes(codeword));
  };
  RobustHandler robust_handler;
  robust_handler.try_codeword = [](std::span<const uint8_t> codeword, const RobustCandidate&) {
    return decodes(codeword);
  };
  int64_t described_ns = 0;
  int64_t robust_ns = 0;
  for (auto _ : state) {
    feed(noise(), [&](std::span<const uint8_t> bytes) {
      const int64_t start = monotonic_ns();
      detect_frames(described, bytes, described_handler);
      const int64_t middle = monotonic_ns();
      robust_detect(robust, bytes, robust_handler);
      described_ns += middle - start;
      robust_ns += monotonic_ns() - middle;
    });
  }
  const double bits = static_cast<double>(state.iterations()) * stream_bytes * 8;
  state.counters["described Gbit/s"] = bits / static_cast<double>(described_ns);
  state.counters["robust Gbit/s"] = bits / static_cast<double>(robust_ns);
  state.counters["robust/described"] =
      static_cast<double>(described_ns) / static_cast<double>(robust_ns);
}
BENCHMARK(robust_over_described);

}  // namespace

}  // namespace kestrelis
