// make sensitivity: frames recovered from the simulator's channel, which here
// damages whole frames (sync word and length field included), by the
// described acquisition, by the robust one for N = 2 ... 6 and 8 wrong sync bits,
// and by the bound: a receiver told where each frame is and how long, so
// that only Reed-Solomon and the CRC decide. Then the false candidates of
// pure noise, and the speed of both acquisitions measured side by side in
// this run. Then soft input: frames recovered through the simulator's soft
// channel by the hard robust receiver on the signs, by the soft receiver on
// the values and by the soft bound (the bound, then the soft receiver's
// erasure search on the codewords it misses), and 10^9 bits of soft noise
// through the soft receiver.
// Every receiver is a Station fed datagrams as the receive thread feeds them;
// every payload it delivers must be one that was planted, or the program fails.

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/downlink.hpp"
#include "app/station.hpp"
#include "console/console_log.hpp"
#include "packet/packet_check.hpp"
#include "platform/clock.hpp"
#include "platform/files.hpp"
#include "sim/bit_stream.hpp"
#include "sim/soft_channel.hpp"
#include "wire/bytes.hpp"
#include "wire/csp.hpp"
#include "wire/frame.hpp"
#include "wire/kiss.hpp"
#include "wire/reed_solomon.hpp"
#include "wire/soft_decode.hpp"

namespace kestrelis {

namespace {

constexpr uint64_t seed = 20240611;
size_t frames_per_point = 40000;  // or the first argument, for a quick look
constexpr size_t datagram_size = 2048;
constexpr size_t noise_bytes = size_t{1} << 25;  // 268 Mbit
constexpr size_t speed_frames = 20000;
constexpr size_t speed_passes = 5;
constexpr std::array<int, 6> tolerances = {2, 3, 4, 5, 6, 8};
constexpr int default_tolerance = robust_default_sync_bit_errors;
constexpr size_t receiver_count = tolerances.size() + 1;  // described, then each N
// Where the default N's figures are among a point's receivers.
constexpr size_t default_receiver =
    1 + static_cast<size_t>(std::ranges::find(tolerances, default_tolerance) - tolerances.begin());
static_assert(default_receiver < receiver_count);

struct Point {
  double bit_error_rate;
  BitErrors errors;
};

constexpr Point points[] = {
    {1e-3, BitErrors::independent},   {2e-3, BitErrors::independent},
    {5e-3, BitErrors::independent},   {1e-2, BitErrors::independent},
    {1.5e-2, BitErrors::independent}, {2e-2, BitErrors::independent},
    {2.5e-2, BitErrors::independent}, {3e-2, BitErrors::independent},
    {5e-3, BitErrors::gmsk},          {1e-2, BitErrors::gmsk},
    {1.5e-2, BitErrors::gmsk},        {2e-2, BitErrors::gmsk},
    {2.5e-2, BitErrors::gmsk},        {3e-2, BitErrors::gmsk},
    {5e-3, BitErrors::pairs},         {1e-2, BitErrors::pairs},
    {2e-2, BitErrors::pairs},         {3e-2, BitErrors::pairs},
};

// A stream and what was planted in it.
struct Planted {
  std::vector<std::vector<uint8_t>> payloads;   // each starts with its index
  std::vector<std::vector<uint8_t>> codewords;  // as received, at their true length
  std::vector<uint64_t> codeword_bits;          // where each codeword starts in the stream
  std::vector<uint8_t> stream;
  uint64_t frame_bits = 0;
  uint64_t wrong_bits = 0;  // in the frames, as the channel made them
};

enum class Kind {
  digipeater,  // payloads of about 40 and about 150 bytes in turn
  telemetry,   // records of satellite 1, layout 5 (140 bytes), as receive_bench's chain
};

// `count` frames of `kind` through the channel of `point`.
Planted plant(size_t count, const Point& point, uint64_t stream_seed, Kind kind) {
  DownlinkStream s;
  s.random.state = stream_seed;
  s.bit_error_rate = point.bit_error_rate;
  s.errors = point.errors;
  s.damage_prefix = true;
  const bool telemetry = kind == Kind::telemetry;
  const auto header =
      csp_header_bytes({.source = satellite_address,
                        .destination_port = telemetry ? telemetry_port : digipeater_port});
  Planted p;
  for (size_t i = 0; i < count; ++i) {
    std::vector<uint8_t> payload(telemetry ? 140
                                           : (i % 2 == 0 ? 38 : 148) + random_below(s.random, 5));
    for (uint8_t& b : payload) b = static_cast<uint8_t>(next_random(s.random));
    if (telemetry) {
      payload[0] = 0x10;
      payload[1] = 0x28;
    } else {
      store_be32(std::span(payload).first<4>(), static_cast<uint32_t>(i));
    }
    const std::vector<uint8_t> frame = build_frame(header, payload);
    const PlantedFrame planted = append_frame(s, frame);
    p.codeword_bits.push_back(8 * (s.packer.bytes.size() - frame.size() + frame_prefix_size) +
                              static_cast<uint64_t>(s.packer.count));
    for (size_t k = 0; k < frame.size(); ++k) {
      p.wrong_bits += static_cast<uint64_t>(std::popcount(unsigned{frame[k]} ^ planted.sent[k]));
    }
    p.frame_bits += 8 * frame.size();
    p.codewords.emplace_back(planted.sent.begin() + frame_prefix_size, planted.sent.end());
    p.payloads.push_back(std::move(payload));
  }
  append_idle(s, robust_frame_bits + 64);  // lets the last frame be decided
  pad_to_byte(s.packer);
  p.stream = take_stream_bytes(s, SIZE_MAX);
  return p;
}

// The bound: each codeword corrected and checked where it is known to be.
size_t bound(const Planted& p) {
  size_t recovered = 0;
  for (size_t i = 0; i < p.codewords.size(); ++i) {
    const DecodedCodeword word = decode_codeword(p.codewords[i]);
    if (word.corrected < 0) continue;
    const PacketCheck check = check_packet(word.packet());
    recovered += packet_accepted(check.verdict) && std::ranges::equal(check.payload, p.payloads[i]);
  }
  return recovered;
}

// The soft bound: as the bound, and a codeword it cannot deliver goes
// through the soft receiver's erasure search with the soft values of its
// bits, `values` holding one per bit of the stream.
size_t soft_bound(const Planted& p, std::span<const uint8_t> values) {
  size_t recovered = 0;
  const auto exact_crc = [](std::span<const uint8_t> word) {
    return check_packet(word.first(word.size() - rs_parity_size)).verdict ==
           PacketVerdict::accepted;
  };
  for (size_t i = 0; i < p.codewords.size(); ++i) {
    const std::span<const uint8_t> codeword = p.codewords[i];
    DecodedCodeword word = decode_codeword(codeword);
    PacketCheck check = word.corrected >= 0 ? check_packet(word.packet()) : PacketCheck{};
    if (word.corrected < 0 || !packet_accepted(check.verdict)) {
      if (p.codeword_bits[i] + 8 * codeword.size() > values.size()) continue;
      const auto soft = std::span(reinterpret_cast<const int8_t*>(values.data()), values.size())
                            .subspan(p.codeword_bits[i], 8 * codeword.size());
      std::copy(codeword.begin(), codeword.end(), word.word.begin());
      const auto stored = std::span(word.word).first(word.length);
      apply_randomizer(stored);
      word.corrected = erasure_search(stored, soft, exact_crc).corrected;
      if (word.corrected < 0) continue;
      check = check_packet(word.packet());
    }
    recovered += packet_accepted(check.verdict) && std::ranges::equal(check.payload, p.payloads[i]);
  }
  return recovered;
}

TncConfig receiver_config(std::optional<int> tolerance) {
  TncConfig config;
  if (tolerance) {
    config.Acquisition = AcquisitionMode::robust;
    config.SyncBitErrors = *tolerance;
  }
  return config;
}

// A station with sinks whose GUI frames are checked against the planted
// payloads: each must be one of them, and none may come twice. It receives
// through the search its configuration names, as the receive thread does.
struct Receiver {
  explicit Receiver(const TncConfig& config)
      : station(config, Console{.verbose_level = 1, .sink = [](std::string_view) {}}),
        acquirer(acquirer_for(config)) {}
  explicit Receiver(std::optional<int> tolerance) : Receiver(receiver_config(tolerance)) {}
  Station station;
  Acquirer acquirer;
  size_t recovered = 0;
  size_t wrong = 0;
  size_t telemetry_objects = 0;
};

// The soft receiver: soft values in, the robust search at the default N.
TncConfig soft_config() {
  TncConfig config = receiver_config(default_tolerance);
  config.Input = ModemInput::soft8;
  return config;
}

void receive(Receiver& r, std::span<const uint8_t> bytes) {
  receive_datagram(r.station, r.acquirer, bytes, 0);
}

void check_deliveries(Receiver& r, const Planted* planted) {
  auto seen = std::make_shared<std::vector<bool>>(planted ? planted->payloads.size() : 0);
  r.station.gui.sink = [&r, planted, seen](std::span<const uint8_t> frame) {
    KissDeframer deframer(frame.size());
    for (uint8_t b : frame) {
      const KissStep step = kiss_receive_byte(deframer, b);
      if (!step.frame) continue;
      const std::span<const uint8_t> data = *step.frame;  // 'P', then the payload
      const size_t index = data.size() >= 5 ? load_be32(data.subspan(1).first<4>()) : SIZE_MAX;
      if (planted == nullptr || index >= planted->payloads.size() || data[0] != 'P' ||
          (*seen)[index] || !std::ranges::equal(data.subspan(1), planted->payloads[index])) {
        ++r.wrong;
        continue;
      }
      (*seen)[index] = true;
      ++r.recovered;
    }
  };
}

void count_telemetry(Receiver& r) {
  r.station.gui.sink = [&r](std::span<const uint8_t> frame) {
    r.telemetry_objects +=
        frame.size() > 5 &&
        std::equal(gui_telemetry_prefix.begin(), gui_telemetry_prefix.end(), frame.begin() + 2);
  };
}

void feed(std::span<const uint8_t> stream, auto&& each) {
  for (size_t at = 0; at < stream.size(); at += datagram_size) {
    each(stream.subspan(at, std::min(datagram_size, stream.size() - at)));
  }
}

struct PointResult {
  double measured_rate = 0;  // wrong bits in the frames
  size_t planted = 0;
  size_t bound = 0;
  std::array<size_t, receiver_count> recovered{};
  size_t wrong = 0;
};

// The frames each receiver recovers from the stream, and those it delivered wrongly.
void receive_planted(const Planted& planted, PointResult& result) {
  for (size_t k = 0; k < receiver_count; ++k) {
    Receiver r(k == 0 ? std::nullopt : std::optional<int>(tolerances[k - 1]));
    check_deliveries(r, &planted);
    feed(planted.stream, [&](std::span<const uint8_t> bytes) { receive(r, bytes); });
    result.recovered[k] = r.recovered;
    result.wrong += r.wrong;
  }
}

PointResult run_point(size_t index) {
  const Planted planted = plant(frames_per_point, points[index], seed + index, Kind::digipeater);
  PointResult result;
  result.measured_rate =
      static_cast<double>(planted.wrong_bits) / static_cast<double>(planted.frame_bits);
  result.planted = planted.payloads.size();
  result.bound = bound(planted);
  receive_planted(planted, result);
  return result;
}

double percent(size_t part, size_t whole) {
  return whole == 0 ? 0 : 100.0 * static_cast<double>(part) / static_cast<double>(whole);
}

double ratio(size_t a, size_t b) {
  return b == 0 ? 0 : static_cast<double>(a) / static_cast<double>(b);
}

const char* errors_name(BitErrors e) {
  switch (e) {
    case BitErrors::pairs:
      return "pairs";
    case BitErrors::gmsk:
      return "GMSK";
    case BitErrors::independent:
      break;
  }
  return "independent";
}

std::vector<PointResult> run_points() {
  std::vector<PointResult> results(std::size(points));
  std::atomic<size_t> next{0};
  const auto work = [&] {
    for (size_t i; (i = next.fetch_add(1)) < results.size();) results[i] = run_point(i);
  };
  std::thread helper(work);
  work();
  helper.join();
  return results;
}

// Returns the payloads wrongly delivered.
size_t print_points(const std::vector<PointResult>& results) {
  std::printf("Frames recovered (%zu planted per point, payloads of 38-42 and 148-152 bytes):\n\n",
              frames_per_point);
  std::printf("| bit error rate | errors | measured | bound | described |");
  for (int n : tolerances) std::printf(" robust N=%d |", n);
  std::printf(" N=%d / described | bound / described |\n|---|---|---|---|---|", default_tolerance);
  for (size_t k = 0; k < tolerances.size(); ++k) std::printf("---|");
  std::printf("---|---|\n");
  size_t wrong = 0;
  double lowest_share = 100;
  for (size_t i = 0; i < results.size(); ++i) {
    const PointResult& r = results[i];
    std::printf("| %g | %s | %.4f | %.2f %% | %.2f %% |", points[i].bit_error_rate,
                errors_name(points[i].errors), r.measured_rate, percent(r.bound, r.planted),
                percent(r.recovered[0], r.planted));
    for (size_t k = 1; k < receiver_count; ++k) {
      std::printf(" %.2f %% |", percent(r.recovered[k], r.planted));
    }
    const size_t robust = r.recovered[default_receiver];
    std::printf(" %.2f | %.2f |\n", ratio(robust, r.recovered[0]), ratio(r.bound, r.recovered[0]));
    lowest_share = std::min(lowest_share, percent(robust, r.bound));
    wrong += r.wrong;
  }
  std::printf("\nRobust N=%d against the bound, per point (%% of the bound's frames):",
              default_tolerance);
  for (const PointResult& r : results) {
    std::printf(" %.2f", percent(r.recovered[default_receiver], r.bound));
  }
  std::printf("\nLowest: %.2f %%. Lowest for each N:", lowest_share);
  for (size_t k = 1; k < receiver_count; ++k) {
    double lowest = 100;
    for (const PointResult& r : results) {
      lowest = std::min(lowest, percent(r.recovered[k], r.bound));
    }
    std::printf(" N=%d %.2f %%", tolerances[k - 1], lowest);
  }
  std::printf(". Payloads delivered that were not planted: %zu\n\n", wrong);
  return wrong;
}

// `bytes` bytes from `first_bit` on; bits beyond the stream are zero.
std::vector<uint8_t> bits_at(std::span<const uint8_t> stream, int64_t first_bit, size_t bytes) {
  std::vector<uint8_t> out(bytes);
  for (size_t i = 0; i < 8 * bytes; ++i) {
    const int64_t bit = first_bit + static_cast<int64_t>(i);
    if (bit < 0 || static_cast<uint64_t>(bit) >= 8 * stream.size()) continue;
    const auto at = static_cast<uint64_t>(bit);
    if ((stream[at / 8] >> (7 - at % 8)) & 1u) out[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
  }
  return out;
}

// Soft input: the simulator's soft channel on every bit of the stream, sync
// word and length field included. The hard bound and the hard robust
// receiver (N = 6) take the signs, the soft receiver the values.
struct SoftPoint {
  double bit_error_rate;
  double tail_share;  // of the values from the wide Gaussian
};

constexpr SoftPoint soft_points[] = {
    {0.01, 0},  {0.02, 0}, {0.03, 0},    {0.035, 0},   {0.04, 0},
    {0.045, 0}, {0.05, 0}, {0.03, 0.03}, {0.04, 0.03}, {0.05, 0.03},
};
size_t soft_frames_per_point = 10000;  // or a quarter of the first argument

// The signs of `values`, packed most significant bit first.
std::vector<uint8_t> signs(std::span<const uint8_t> values) {
  std::vector<uint8_t> bits((values.size() + 7) / 8);
  for (size_t i = 0; i < values.size(); ++i) {
    if (static_cast<int8_t>(values[i]) >= 0) bits[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
  }
  return bits;
}

struct SoftResult {
  double measured_rate = 0;  // wrong signs in the whole stream
  size_t planted = 0;
  size_t bound = 0;
  size_t soft_bound = 0;
  size_t hard = 0;  // the hard robust receiver
  size_t soft = 0;
  size_t wrong = 0;
};

// The bounds, the hard robust receiver and the soft receiver on soft
// `values` whose signs `planted` holds as its stream and codewords (with
// codeword_bits where each codeword's first value is).
SoftResult score_soft(const Planted& planted, std::span<const uint8_t> values) {
  SoftResult r;
  r.planted = planted.payloads.size();
  r.bound = bound(planted);
  r.soft_bound = soft_bound(planted, values);
  Receiver hard(default_tolerance);
  check_deliveries(hard, &planted);
  feed(planted.stream, [&](std::span<const uint8_t> bytes) { receive(hard, bytes); });
  Receiver soft(soft_config());
  check_deliveries(soft, &planted);
  feed(values, [&](std::span<const uint8_t> bytes) { receive(soft, bytes); });
  r.hard = hard.recovered;
  r.soft = soft.recovered;
  r.wrong = hard.wrong + soft.wrong;
  return r;
}

SoftResult run_soft_point(size_t index) {
  const SoftPoint& point = soft_points[index];
  Planted planted = plant(soft_frames_per_point, {0, BitErrors::independent}, seed + 100 + index,
                          Kind::digipeater);
  const SoftChannel channel = make_soft_channel(point.bit_error_rate, point.tail_share);
  SimRandom random{seed + 200 + index};
  std::vector<uint8_t> values;
  append_soft(random, channel, planted.stream, values);
  uint64_t wrong_signs = 0;
  for (size_t i = 0; i < values.size(); ++i) {
    const bool one = (planted.stream[i / 8] >> (7 - i % 8)) & 1u;
    wrong_signs += (static_cast<int8_t>(values[i]) >= 0) != one;
  }
  planted.stream = signs(values);
  for (size_t i = 0; i < planted.codewords.size(); ++i) {
    planted.codewords[i] = bits_at(planted.stream, static_cast<int64_t>(planted.codeword_bits[i]),
                                   planted.codewords[i].size());
  }
  SoftResult r = score_soft(planted, values);
  r.measured_rate = static_cast<double>(wrong_signs) / static_cast<double>(values.size());
  return r;
}

// Returns the payloads wrongly delivered.
size_t print_soft_points() {
  std::vector<SoftResult> results(std::size(soft_points));
  std::atomic<size_t> next{0};
  const auto work = [&] {
    for (size_t i; (i = next.fetch_add(1)) < results.size();) results[i] = run_soft_point(i);
  };
  std::thread helper(work);
  work();
  helper.join();
  std::printf(
      "Soft input: frames recovered (%zu planted per point, the soft channel on every "
      "bit):\n\n",
      soft_frames_per_point);
  std::printf(
      "| bit error rate | tail | measured | bound | soft bound | robust N=%d | soft | "
      "soft / robust | soft / bound |\n|---|---|---|---|---|---|---|---|---|\n",
      default_tolerance);
  size_t wrong = 0;
  for (size_t i = 0; i < results.size(); ++i) {
    const SoftResult& r = results[i];
    std::printf("| %g | %g | %.4f | %.2f %% | %.2f %% | %.2f %% | %.2f %% | %.2f | %.2f |\n",
                soft_points[i].bit_error_rate, soft_points[i].tail_share, r.measured_rate,
                percent(r.bound, r.planted), percent(r.soft_bound, r.planted),
                percent(r.hard, r.planted), percent(r.soft, r.planted), ratio(r.soft, r.hard),
                ratio(r.soft, r.bound));
    wrong += r.wrong;
  }
  std::printf("\nPayloads delivered that were not planted: %zu\n\n", wrong);
  return wrong;
}

// Soft noise: every value from -128 to 127 alike, soft_noise_bits of them in
// chunks, half on each core, through the soft receiver. Returns the frames
// delivered, all of them wrong.
constexpr uint64_t soft_noise_bits = 1'000'000'000;
constexpr size_t soft_noise_chunk = size_t{1} << 22;

size_t print_soft_noise() {
  struct Half {
    uint64_t sync_words = 0;
    uint64_t decodes = 0;
    size_t wrong = 0;
    int64_t receive_ns = 0;
  };
  std::array<Half, 2> halves;
  const auto work = [&](size_t k) {
    Receiver r(soft_config());
    check_deliveries(r, nullptr);
    SimRandom random{seed + 300 + k};
    std::vector<uint8_t> values(soft_noise_chunk);
    for (uint64_t done = 0; done < soft_noise_bits / 2; done += soft_noise_chunk) {
      for (size_t i = 0; i < values.size(); i += 8) {
        const uint64_t draw = next_random(random);
        std::memcpy(values.data() + i, &draw, sizeof draw);
      }
      const int64_t start = monotonic_ns();
      feed(values, [&](std::span<const uint8_t> bytes) { receive(r, bytes); });
      halves[k].receive_ns += monotonic_ns() - start;
    }
    const DecoderStatistics& s = r.station.statistics;
    halves[k].sync_words = s.sync_words.load();
    halves[k].decodes = s.decodes.load();  // hard and with erasures
    halves[k].wrong = r.wrong;
  };
  std::thread helper(work, 1);
  work(0);
  helper.join();
  const uint64_t bits =
      2 * ((soft_noise_bits / 2 + soft_noise_chunk - 1) / soft_noise_chunk) * soft_noise_chunk;
  const double megabits = static_cast<double>(bits) * 1e-6;
  const Half& a = halves[0];
  const Half& b = halves[1];
  std::printf("Soft noise, %.0f Mbit (every value alike), through the soft receiver:\n\n",
              megabits);
  std::printf(
      "| sync words per 10^6 bits | Reed-Solomon decodes per 10^6 bits | delivered | Mbit/s per "
      "core |\n"
      "|---|---|---|---|\n");
  std::printf("| %.2f | %.2f | %zu | %.1f |\n\n",
              static_cast<double>(a.sync_words + b.sync_words) / megabits,
              static_cast<double>(a.decodes + b.decodes) / megabits, a.wrong + b.wrong,
              static_cast<double>(bits) * 1e3 / static_cast<double>(a.receive_ns + b.receive_ns));
  return a.wrong + b.wrong;
}

std::vector<uint8_t> noise(size_t bytes) {
  SimRandom random{seed};
  std::vector<uint8_t> out(bytes);
  for (uint8_t& b : out) b = static_cast<uint8_t>(next_random(random) >> 56);
  return out;
}

// Returns the frames delivered from noise, all of them wrong.
size_t print_noise(const std::vector<uint8_t>& bits) {
  const double megabits = static_cast<double>(bits.size()) * 8e-6;
  std::vector<std::optional<int>> receivers = {std::nullopt};
  for (int n : tolerances) receivers.emplace_back(n);
  std::vector<std::string> rows(receivers.size());
  std::vector<size_t> delivered(receivers.size());
  std::atomic<size_t> next{0};
  const auto work = [&] {
    for (size_t i; (i = next.fetch_add(1)) < receivers.size();) {
      Receiver r(receivers[i]);
      check_deliveries(r, nullptr);
      feed(bits, [&](std::span<const uint8_t> bytes) { receive(r, bytes); });
      const DecoderStatistics& s = r.station.statistics;
      const auto tried =
          static_cast<double>(s.codewords_decoded.load() + s.codewords_failed.load());
      const std::string name =
          receivers[i] ? "robust N=" + std::to_string(*receivers[i]) : "described";
      rows[i] = format_text("| %s | %.3f | %.3f | %zu |\n", name.c_str(),
                            static_cast<double>(s.sync_words.load()) / megabits, tried / megabits,
                            r.wrong);
      delivered[i] = r.wrong;
    }
  };
  std::thread helper(work);
  work();
  helper.join();
  std::printf("False candidates in %.0f Mbit of noise (per 10^6 bits):\n\n", megabits);
  std::printf("| acquisition | sync words | codewords tried | delivered |\n|---|---|---|---|\n");
  for (const std::string& row : rows) std::printf("%s", row.c_str());
  std::printf("\n");
  size_t total = 0;
  for (size_t n : delivered) total += n;
  return total;
}

// The best of speed_passes times each receiver takes over `stream`. The
// receivers take turns, so that other load on the machine falls on all alike.
template <size_t count>
std::array<int64_t, count> best_times(std::span<const uint8_t> stream,
                                      std::array<Receiver, count>& receivers) {
  std::array<int64_t, count> best;
  best.fill(INT64_MAX);
  for (size_t pass = 0; pass < speed_passes; ++pass) {
    for (size_t k = 0; k < count; ++k) {
      const int64_t start = monotonic_ns();
      feed(stream, [&](std::span<const uint8_t> bytes) { receive(receivers[k], bytes); });
      best[k] = std::min(best[k], monotonic_ns() - start);
    }
  }
  return best;
}

// The acquisitions timed side by side: described, then robust at these N.
constexpr std::array<int, 3> timed_tolerances = {4, 6, 8};
constexpr size_t timed_count = timed_tolerances.size() + 1;

std::array<Receiver, timed_count> timed_receivers() {
  return {Receiver(std::nullopt), Receiver(timed_tolerances[0]), Receiver(timed_tolerances[1]),
          Receiver(timed_tolerances[2])};
}

void print_speed(const std::vector<uint8_t>& bits) {
  std::array<Receiver, timed_count> on_noise = timed_receivers();
  const std::array<int64_t, timed_count> noise_ns = best_times(bits, on_noise);
  const double noise_bits = static_cast<double>(bits.size()) * 8;

  const Planted clean = plant(speed_frames, {0, BitErrors::independent}, seed - 1, Kind::telemetry);
  std::array<Receiver, timed_count> chains = timed_receivers();
  for (Receiver& r : chains) count_telemetry(r);
  const std::array<int64_t, timed_count> chain_ns = best_times(clean.stream, chains);
  const double frames = static_cast<double>(speed_frames);

  std::printf("Speed on one core, best of %zu passes taken in turn in this run:\n\n", speed_passes);
  std::printf("| | described |");
  for (int n : timed_tolerances) std::printf(" robust N=%d |", n);
  for (int n : timed_tolerances) std::printf(" N=%d / described |", n);
  std::printf("\n|---|---|");
  for (size_t k = 1; k < 2 * timed_count - 1; ++k) std::printf("---|");
  std::printf("\n| noise, Gbit/s |");
  for (int64_t ns : noise_ns) std::printf(" %.2f |", noise_bits / static_cast<double>(ns));
  for (size_t k = 1; k < timed_count; ++k) {
    std::printf(" %.2f |", static_cast<double>(noise_ns[0]) / static_cast<double>(noise_ns[k]));
  }
  std::printf("\n| whole chain, clean telemetry frames/s |");
  for (int64_t ns : chain_ns) std::printf(" %.0f |", frames * 1e9 / static_cast<double>(ns));
  for (size_t k = 1; k < timed_count; ++k) {
    std::printf(" %.2f |", static_cast<double>(chain_ns[0]) / static_cast<double>(chain_ns[k]));
  }
  std::printf("\n(telemetry records at the GUI per pass:");
  for (const Receiver& r : chains) std::printf(" %zu", r.telemetry_objects / speed_passes);
  std::printf(" of %zu)\n", speed_frames);
}

// A stream through a real modem: `sensitivity --write-stream FILE` writes the
// clean stream of frames_per_point frames, a modem chain outside this program
// sends it through noise, and `sensitivity --received FILE` scores the bits
// the modem made as run_point scores the simulator's. The receivers take them
// as they are, clock slips included. The bound is told where each frame
// starts in them, so a slip after that loses the frame for it too:
// FILE.delays holds, for the 64 bits of the clean stream that hold each
// frame's first bit, how many bits later (or earlier) the modem delivered
// it, as 32-bit little-endian integers (bench/gmsk_end_to_end.py does it
// all, by hand).
Planted clean_stream() {
  return plant(frames_per_point, {0, BitErrors::independent}, seed, Kind::digipeater);
}

int write_stream(const std::string& path) {
  const Planted planted = clean_stream();
  const std::string_view bytes(reinterpret_cast<const char*>(planted.stream.data()),
                               planted.stream.size());
  if (const SysResult written = write_text_file(path, bytes); !written.ok()) {
    std::fprintf(stderr, "%s: %s\n", path.c_str(), error_text(written).c_str());
    return 2;
  }
  return 0;
}

constexpr uint64_t delay_block_bits = 64;

int score_received(const std::string& path) {
  Planted planted = clean_stream();
  const std::optional<std::string> text = read_whole_file(path);
  const std::optional<std::string> delays = read_whole_file(path + ".delays");
  const size_t blocks = (8 * planted.stream.size() + delay_block_bits - 1) / delay_block_bits;
  if (!text || !delays || delays->size() != 4 * blocks) {
    std::fprintf(stderr, "%s: no received stream with the delays of %zu blocks\n", path.c_str(),
                 blocks);
    return 2;
  }
  const std::vector<uint8_t> received(text->begin(), text->end());
  const auto delay_at = [&](uint64_t bit) {
    const auto* d = reinterpret_cast<const uint8_t*>(delays->data()) + 4 * (bit / delay_block_bits);
    return static_cast<int32_t>(uint32_t{d[0]} | uint32_t{d[1]} << 8 | uint32_t{d[2]} << 16 |
                                uint32_t{d[3]} << 24);
  };
  for (size_t i = 0; i < planted.codewords.size(); ++i) {
    const uint64_t first = planted.codeword_bits[i];
    const uint64_t frame_start = first - 8 * frame_prefix_size;
    const int64_t at = static_cast<int64_t>(first) + delay_at(frame_start);
    planted.codewords[i] = bits_at(received, at, planted.codewords[i].size());
    planted.codeword_bits[i] = static_cast<uint64_t>(std::max<int64_t>(at, 0));
  }
  planted.stream = received;
  // With the modem's soft values beside its bits: the bound, the hard
  // robust receiver and the soft one.
  if (const std::optional<std::string> soft = read_whole_file(path + ".soft")) {
    if ((soft->size() + 7) / 8 != received.size()) {
      std::fprintf(stderr, "%s.soft: not one value per bit of %s\n", path.c_str(), path.c_str());
      return 2;
    }
    const SoftResult r = score_soft(
        planted, std::span(reinterpret_cast<const uint8_t*>(soft->data()), soft->size()));
    std::printf("| %zu | %zu | %zu | %zu | %zu | %.2f | %zu |\n", r.planted, r.bound, r.soft_bound,
                r.hard, r.soft, ratio(r.soft, r.bound), r.wrong);
    return r.wrong == 0 ? 0 : 1;
  }
  PointResult r;
  r.planted = planted.payloads.size();
  r.bound = bound(planted);
  receive_planted(planted, r);
  const size_t robust = r.recovered[default_receiver];
  std::printf("| %zu | %zu | %zu |", r.planted, r.bound, r.recovered[0]);
  for (size_t k = 1; k < receiver_count; ++k) std::printf(" %zu |", r.recovered[k]);
  std::printf(" %.2f | %.2f | %.2f %% | %zu |\n", ratio(robust, r.recovered[0]),
              ratio(r.bound, r.recovered[0]), percent(robust, r.bound), r.wrong);
  return r.wrong == 0 ? 0 : 1;
}

int run() {
  const int64_t start = monotonic_ms();
  const size_t wrong_frames = print_points(run_points());
  const std::vector<uint8_t> bits = noise(noise_bytes);
  const size_t wrong_noise = print_noise(bits);
  const size_t wrong_soft = print_soft_points() + print_soft_noise();
  print_speed(bits);
  std::printf("\n%.0f s\n", static_cast<double>(monotonic_ms() - start) / 1000);
  if (wrong_frames + wrong_noise + wrong_soft > 0) {
    std::printf("FAILED: %zu payloads delivered that were not planted\n",
                wrong_frames + wrong_noise + wrong_soft);
    return 1;
  }
  return 0;
}

}  // namespace

}  // namespace kestrelis

int main(int argc, char** argv) {
  const std::string_view mode = argc > 1 ? argv[1] : "";
  const bool with_file = mode == "--write-stream" || mode == "--received";
  if (with_file && argc < 3) {
    std::fprintf(stderr,
                 "usage: %s [FRAMES] | --write-stream FILE [FRAMES] | --received FILE [FRAMES]\n",
                 argv[0]);
    return 2;
  }
  const int count_at = with_file ? 3 : 1;
  if (argc > count_at) {
    kestrelis::frames_per_point = std::strtoul(argv[count_at], nullptr, 10);
    kestrelis::soft_frames_per_point = kestrelis::frames_per_point / 4;
  }
  if (mode == "--write-stream") return kestrelis::write_stream(argv[2]);
  if (mode == "--received") return kestrelis::score_received(argv[2]);
  return kestrelis::run();
}
