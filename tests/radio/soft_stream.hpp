#pragma once
// Test support: soft values as the modem sends them for Input = soft8, one
// signed byte per bit; a sure bit is +-63, so that sure bytes tie in rank.

#include <cstdint>
#include <span>
#include <vector>

namespace kestrelis {

// The bits of `bytes`, most significant first, as sure soft values.
inline std::vector<int8_t> soft_of(std::span<const uint8_t> bytes) {
  std::vector<int8_t> soft(8 * bytes.size());
  for (size_t i = 0; i < soft.size(); ++i) soft[i] = (bytes[i / 8] >> (7 - i % 8)) & 1 ? 63 : -63;
  return soft;
}

// The hard decisions of soft values: one 0 or 1 per element.
inline std::vector<uint8_t> soft_bits_of(std::span<const int8_t> soft) {
  std::vector<uint8_t> bits(soft.size());
  for (size_t i = 0; i < soft.size(); ++i) bits[i] = soft[i] >= 0 ? 1 : 0;
  return bits;
}

// The same values as the datagram bytes that carry them.
inline std::vector<uint8_t> soft_datagram_of(std::span<const int8_t> soft) {
  return std::vector<uint8_t>(soft.begin(), soft.end());
}

}  // namespace kestrelis
