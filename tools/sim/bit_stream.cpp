#include "sim/bit_stream.hpp"

#include <algorithm>
#include <bit>
#include <cmath>

#include "wire/frame.hpp"

namespace kestrelis {

uint64_t next_random(SimRandom& r) {
  uint64_t z = (r.state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

double random_unit(SimRandom& r) { return static_cast<double>(next_random(r) >> 11) * 0x1.0p-53; }

uint32_t random_below(SimRandom& r, uint32_t n) {
  return n == 0 ? 0 : static_cast<uint32_t>(next_random(r) % n);
}

namespace {

// Bits between flips at rate p: geometrically distributed.
size_t bits_to_next_flip(SimRandom& r, double p) {
  const double gap = std::floor(std::log1p(-random_unit(r)) / std::log1p(-p));
  return gap > 1e9 ? size_t{1'000'000'000} : static_cast<size_t>(gap);
}

// One error event: `length` bits from the first wrong one, `bits` most significant first.
struct ErrorPattern {
  uint32_t bits;
  int length;
  uint32_t weight;  // how often it was seen
};

constexpr ErrorPattern single_errors[] = {{0b1, 1, 1}};
constexpr ErrorPattern pair_errors[] = {{0b11, 2, 1}};
// Counted on a GMSK modulator and demodulator (BT 0.5, 4 samples per bit, a
// low-pass filter before the frequency discriminator and clock recovery)
// with white noise, over 2 Mbit at each of two noise levels: errors no more
// than 3 bits apart taken as one event, the 24 most frequent patterns kept
// (bench/gmsk_error_patterns.py counts them).
// At a bit error rate of 0.0146 four in five events are one bit and one in
// ten two adjacent bits; at 0.029 the longer patterns are more frequent.
constexpr ErrorPattern gmsk_errors_at_0_0146[] = {
    {0b1, 1, 15383},      {0b11, 2, 1881},      {0b101, 3, 341},      {0b1001, 4, 326},
    {0b111, 3, 211},      {0b1011, 4, 73},      {0b1101, 4, 73},      {0b10011, 5, 57},
    {0b11001, 5, 55},     {0b1111, 4, 43},      {0b10101, 5, 27},     {0b10111, 5, 23},
    {0b11011, 5, 22},     {0b100111, 6, 22},    {0b101001, 6, 21},    {0b11111, 5, 18},
    {0b100101, 6, 18},    {0b11101, 5, 17},     {0b1001001, 7, 15},   {0b110011, 6, 14},
    {0b101101, 6, 12},    {0b111001, 6, 10},    {0b1001111, 7, 9},    {0b101111, 6, 8},
};
constexpr ErrorPattern gmsk_errors_at_0_029[] = {
    {0b1, 1, 26464},      {0b11, 2, 3950},      {0b101, 3, 784},      {0b1001, 4, 696},
    {0b111, 3, 496},      {0b1101, 4, 194},     {0b1011, 4, 192},     {0b10011, 5, 153},
    {0b11001, 5, 127},    {0b1111, 4, 111},     {0b10111, 5, 63},     {0b10101, 5, 62},
    {0b100101, 6, 53},    {0b101001, 6, 50},    {0b11011, 5, 43},     {0b1001001, 7, 35},
    {0b11111, 5, 34},     {0b100111, 6, 34},    {0b11101, 5, 32},     {0b110011, 6, 28},
    {0b101011, 6, 23},    {0b111001, 6, 23},    {0b101111, 6, 21},    {0b101101, 6, 19},
};

// The patterns of `errors`; for GMSK those counted nearest `bit_error_rate`.
std::span<const ErrorPattern> error_patterns(BitErrors errors, double bit_error_rate) {
  switch (errors) {
    case BitErrors::pairs:
      return pair_errors;
    case BitErrors::gmsk:
      if (bit_error_rate < 0.02) return gmsk_errors_at_0_0146;
      return gmsk_errors_at_0_029;
    case BitErrors::independent:
      break;
  }
  return single_errors;
}

// One draw per event only where there is a choice, so single and paired
// errors fall exactly where they always did for a given seed.
const ErrorPattern& random_pattern(SimRandom& r, std::span<const ErrorPattern> patterns) {
  if (patterns.size() == 1) return patterns.front();
  uint32_t total = 0;
  for (const ErrorPattern& p : patterns) total += p.weight;
  uint32_t pick = random_below(r, total);
  for (const ErrorPattern& p : patterns) {
    if (pick < p.weight) return p;
    pick -= p.weight;
  }
  return patterns.back();
}

}  // namespace

void append_idle(DownlinkStream& s, size_t bits) {
  while (bits > 0) {
    uint64_t word = next_random(s.random);
    for (int i = 0; i < 8 && bits > 0; ++i, word >>= 8) {
      const int count = static_cast<int>(std::min<size_t>(bits, 8));
      pack_bits(s.packer, static_cast<uint8_t>(word) >> (8 - count), count);
      bits -= static_cast<size_t>(count);
    }
  }
}

PlantedFrame append_frame(DownlinkStream& s, std::span<const uint8_t> frame) {
  PlantedFrame planted;
  planted.phase = s.bit_offset == random_bit_offset ? static_cast<int>(random_below(s.random, 8))
                                                    : s.bit_offset;
  append_idle(s, 16 + random_below(s.random, 56));
  append_idle(s, static_cast<size_t>((planted.phase - s.packer.count + 8) % 8));

  std::vector<uint8_t>& sent = planted.sent;
  sent.assign(frame.begin(), frame.end());
  const size_t first = s.damage_prefix ? 0 : frame_prefix_size;
  if (s.bit_error_rate > 0 && sent.size() > first) {
    const size_t bits = (sent.size() - first) * 8;
    const auto flip = [&](size_t bit) {
      if (bit < bits) sent[first + bit / 8] ^= static_cast<uint8_t>(0x80 >> (bit % 8));
    };
    // Events never overlap: one starts after each gap of correct bits, so
    // with patterns of mean weight w and mean length l an event rate of
    // BER / (w - BER (l - 1)) gives the bit error rate.
    const auto patterns = error_patterns(s.errors, s.bit_error_rate);
    double total = 0;
    double weight = 0;
    double length = 0;
    for (const ErrorPattern& p : patterns) {
      total += p.weight;
      weight += p.weight * std::popcount(p.bits);
      length += p.weight * p.length;
    }
    const double ber = s.bit_error_rate;
    const double rate = ber / (weight / total - ber * (length / total - 1));
    for (size_t bit = bits_to_next_flip(s.random, rate); bit < bits;) {
      const ErrorPattern& e = random_pattern(s.random, patterns);
      for (int k = 0; k < e.length; ++k) {
        if ((e.bits >> (e.length - 1 - k)) & 1u) flip(bit + static_cast<size_t>(k));
      }
      bit += static_cast<size_t>(e.length) + bits_to_next_flip(s.random, rate);
    }
    for (size_t i = frame_prefix_size; i < sent.size(); ++i) {
      const int wrong = std::popcount(static_cast<unsigned>(sent[i] ^ frame[i]));
      planted.bit_errors += wrong;
      planted.byte_errors += wrong > 0 ? 1 : 0;
    }
  }
  pack_bytes(s.packer, sent);
  return planted;
}

std::vector<uint8_t> take_stream_bytes(DownlinkStream& s, size_t count) {
  std::vector<uint8_t>& pending = s.packer.bytes;
  const auto n = static_cast<std::ptrdiff_t>(std::min(count, pending.size()));
  std::vector<uint8_t> bytes(pending.begin(), pending.begin() + n);
  pending.erase(pending.begin(), pending.begin() + n);
  return bytes;
}

}  // namespace kestrelis
