#include "wire/golay.hpp"

#include <algorithm>
#include <bit>

namespace kestrelis {

namespace {

// Parity bit 11 - i is the parity of the data bits selected by column i.
constexpr std::array<unsigned, 12> golay_columns = {0x8ED, 0x1DB, 0x3B5, 0x769, 0xED1, 0xDA3,
                                                    0xB47, 0x68F, 0xD1D, 0xA3B, 0x477, 0xFFE};

constexpr unsigned parity_of(unsigned data) {
  unsigned parity = 0;
  for (size_t i = 0; i < golay_columns.size(); ++i) {
    parity |= static_cast<unsigned>(std::popcount(data & golay_columns[i]) & 1) << (11 - i);
  }
  return parity;
}

constexpr std::array<uint16_t, 4096> make_parities() {
  std::array<uint16_t, 4096> p{};
  for (unsigned data = 0; data < p.size(); ++data) p[data] = static_cast<uint16_t>(parity_of(data));
  return p;
}

// The search decodes a length field for every sync word it finds, thousands
// per 10^6 bits at high tolerances: one lookup instead of twelve parities.
constexpr std::array<uint16_t, 4096> parities = make_parities();

// Zero exactly for codewords; equal for two words exactly when they differ by a codeword.
constexpr unsigned syndrome(uint32_t word) {
  return parities[word & 0xFFF] ^ ((word >> 12) & 0xFFF);
}

constexpr std::array<unsigned, 24> make_bit_syndromes() {
  std::array<unsigned, 24> s{};
  for (unsigned bit = 0; bit < 24; ++bit) s[bit] = syndrome(uint32_t{1} << bit);
  return s;
}

constexpr std::array<unsigned, 24> bit_syndromes = make_bit_syndromes();

constexpr uint32_t no_leader = 0xFFFFFFFF;

// For each syndrome, the one error pattern of at most 3 bits that gives it, or no_leader.
constexpr std::array<uint32_t, 4096> make_leaders() {
  std::array<uint32_t, 4096> leaders{};
  leaders.fill(no_leader);
  leaders[0] = 0;
  const auto& s = bit_syndromes;
  for (unsigned a = 0; a < 24; ++a) {
    leaders[s[a]] = uint32_t{1} << a;
    for (unsigned b = 0; b < a; ++b) {
      leaders[s[a] ^ s[b]] = (uint32_t{1} << a) | (uint32_t{1} << b);
      for (unsigned c = 0; c < b; ++c) {
        leaders[s[a] ^ s[b] ^ s[c]] = (uint32_t{1} << a) | (uint32_t{1} << b) | (uint32_t{1} << c);
      }
    }
  }
  return leaders;
}

constexpr std::array<uint32_t, 4096> leaders = make_leaders();

// 1 + 24 + 276 + 2024 patterns, none sharing a syndrome: the code corrects 3 bits.
static_assert(std::ranges::count_if(leaders, [](uint32_t e) { return e != no_leader; }) == 2325);

}  // namespace

uint32_t golay24_encode(unsigned data) {
  const unsigned d = data & 0xFFF;
  return (parity_of(d) << 12) | d;
}

GolayDecoded golay24_decode(uint32_t word) {
  const uint32_t received = word & 0xFFFFFF;
  const unsigned s = syndrome(received);
  GolayDecoded out;
  if (const uint32_t error = leaders[s]; error != no_leader) {
    out.wrong_bits = std::popcount(error);
    out.data = (received ^ error) & 0xFFF;
    return out;
  }
  // Four wrong bits. Each of the six 4-bit error patterns that fit covers its
  // own four positions; flipping one of them leaves that pattern's other three.
  out.wrong_bits = 4;
  uint32_t covered = 0;
  size_t found = 0;
  for (unsigned bit = 0; bit < 24 && found < out.nearest.size(); ++bit) {
    if ((covered >> bit) & 1) continue;
    const uint32_t error = leaders[s ^ bit_syndromes[bit]] | (uint32_t{1} << bit);
    covered |= error;
    out.nearest[found++] = static_cast<uint16_t>((received ^ error) & 0xFFF);
  }
  std::ranges::sort(out.nearest);
  return out;
}

}  // namespace kestrelis
