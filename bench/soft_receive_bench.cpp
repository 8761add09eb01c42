// Soft input against hard, timed side by side in one run: the soft receiver
// on soft noise against the hard robust receiver (N = 6) on the same bits
// packed, and the whole chain on clean telemetry frames, soft values against
// packed bits. Each pair takes the same bits datagram by datagram in turn, so
// that other load on the machine falls on both alike.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <span>
#include <string_view>
#include <vector>

#include "app/downlink.hpp"
#include "app/station.hpp"
#include "platform/clock.hpp"
#include "wire/csp.hpp"
#include "wire/frame.hpp"
#include "wire/kiss.hpp"

namespace kestrelis {

namespace {

constexpr size_t hard_datagram = 2048;  // bytes of packed bits; the soft one has 8 times as many

TncConfig config_for(ModemInput input) {
  TncConfig config;
  config.Acquisition = AcquisitionMode::robust;
  config.Input = input;
  return config;
}

// A station through the search of `input`, counting the telemetry objects it
// sends to the GUI.
struct Receiver {
  explicit Receiver(ModemInput input)
      : station(config_for(input), Console{.verbose_level = 1, .sink = [](std::string_view) {}}),
        acquirer(acquirer_for(config_for(input))) {
    station.gui.sink = [this](std::span<const uint8_t> frame) {
      telemetry_objects +=
          frame.size() > 5 &&
          std::equal(gui_telemetry_prefix.begin(), gui_telemetry_prefix.end(), frame.begin() + 2);
    };
  }
  Station station;
  Acquirer acquirer;
  size_t telemetry_objects = 0;
  int64_t ns = 0;
};

// The bits of `packed` as sure soft values, as a modem gives them at x = +-1.
std::vector<uint8_t> sure_values(std::span<const uint8_t> packed) {
  std::vector<uint8_t> values(8 * packed.size());
  for (size_t i = 0; i < values.size(); ++i) {
    values[i] = (packed[i / 8] >> (7 - i % 8)) & 1 ? 63 : static_cast<uint8_t>(-64);
  }
  return values;
}

// The signs of soft `values`, packed.
std::vector<uint8_t> signs(std::span<const uint8_t> values) {
  std::vector<uint8_t> bits(values.size() / 8);
  for (size_t i = 0; i < 8 * bits.size(); ++i) {
    if (values[i] < 0x80) bits[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
  }
  return bits;
}

// Runs `bits` through `hard` and `values`, the same bits, through `soft`, a
// datagram each in turn, timing each call.
void run_pair(Receiver& hard, Receiver& soft, std::span<const uint8_t> bits,
              std::span<const uint8_t> values) {
  for (size_t at = 0; at < bits.size(); at += hard_datagram) {
    const size_t size = std::min(hard_datagram, bits.size() - at);
    const int64_t start = monotonic_ns();
    receive_datagram(hard.station, hard.acquirer, bits.subspan(at, size), 0);
    const int64_t middle = monotonic_ns();
    receive_datagram(soft.station, soft.acquirer, values.subspan(8 * at, 8 * size), 0);
    hard.ns += middle - start;
    soft.ns += monotonic_ns() - middle;
  }
}

// Every soft value alike, 2^23 of them, and their signs.
void soft_over_hard_noise(benchmark::State& state) {
  std::mt19937_64 rng(11);
  std::vector<uint8_t> values(size_t{1} << 23);
  for (auto& v : values) v = static_cast<uint8_t>(rng());
  const std::vector<uint8_t> bits = signs(values);
  Receiver hard(ModemInput::bits);
  Receiver soft(ModemInput::soft8);
  for (auto _ : state) run_pair(hard, soft, bits, values);
  const double total = static_cast<double>(state.iterations()) * static_cast<double>(values.size());
  state.counters["hard Mbit/s"] = total * 1e3 / static_cast<double>(hard.ns);
  state.counters["soft Mbit/s"] = total * 1e3 / static_cast<double>(soft.ns);
  state.counters["soft/hard"] = static_cast<double>(hard.ns) / static_cast<double>(soft.ns);
}
BENCHMARK(soft_over_hard_noise)->Unit(benchmark::kMillisecond);

// Telemetry records of satellite 1, layout version 5 (140 bytes), 5 idle
// bytes apart and at bit phase 0, clean, as receive_bench's chain.
void soft_over_hard_chain(benchmark::State& state) {
  constexpr size_t frames = 64;
  const auto header = csp_header_bytes({.source = satellite_address,
                                        .destination = 0,
                                        .destination_port = telemetry_port,
                                        .source_port = 8});
  std::mt19937_64 rng(12);
  std::vector<uint8_t> bits;
  for (size_t i = 0; i < frames; ++i) {
    std::vector<uint8_t> record(140);
    for (auto& b : record) b = static_cast<uint8_t>(rng());
    record[0] = 0x10;  // tlm_sat 1, version 5, telemetry
    record[1] = 0x28;
    const std::vector<uint8_t> frame = build_frame(header, record);
    bits.insert(bits.end(), frame.begin(), frame.end());
    bits.insert(bits.end(), 5, 0x55);
  }
  bits.insert(bits.end(), 256, 0x55);  // lets the last frame be decided
  const std::vector<uint8_t> values = sure_values(bits);
  Receiver hard(ModemInput::bits);
  Receiver soft(ModemInput::soft8);
  for (auto _ : state) run_pair(hard, soft, bits, values);
  const auto expected = static_cast<size_t>(state.iterations()) * frames;
  if (hard.telemetry_objects != expected || soft.telemetry_objects != expected) {
    state.SkipWithError("not every frame reached the GUI as telemetry");
  }
  const double total = static_cast<double>(expected);
  state.counters["hard frames/s"] = total * 1e9 / static_cast<double>(hard.ns);
  state.counters["soft frames/s"] = total * 1e9 / static_cast<double>(soft.ns);
  state.counters["soft/hard"] = static_cast<double>(hard.ns) / static_cast<double>(soft.ns);
}
BENCHMARK(soft_over_hard_chain)->Unit(benchmark::kMillisecond);

}  // namespace

}  // namespace kestrelis
