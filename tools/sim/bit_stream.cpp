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
    // Pairs never overlap: a pair every 2 + gap bits at this rate gives the bit error rate.
    const bool pairs = s.errors == BitErrors::pairs;
    const double p = pairs ? s.bit_error_rate / (2 - s.bit_error_rate) : s.bit_error_rate;
    const size_t span = pairs ? 2 : 1;
    for (size_t bit = bits_to_next_flip(s.random, p); bit < bits;
         bit += span + bits_to_next_flip(s.random, p)) {
      flip(bit);
      if (pairs) flip(bit + 1);
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
