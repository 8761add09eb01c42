#pragma once
// Test support: bit streams as the modem delivers them, most significant bit first.

#include <cstdint>
#include <span>
#include <vector>

// Appends the bits of `bytes` (one 0 or 1 per element) to `bits`.
inline void append_bits(std::vector<uint8_t>& bits, std::span<const uint8_t> bytes) {
  for (uint8_t byte : bytes) {
    for (int i = 7; i >= 0; --i) bits.push_back((byte >> i) & 1);
  }
}

// Packs bits into bytes, the last one filled up with zero bits.
inline std::vector<uint8_t> pack_bits(const std::vector<uint8_t>& bits) {
  std::vector<uint8_t> bytes((bits.size() + 7) / 8);
  for (size_t i = 0; i < bits.size(); ++i) {
    bytes[i / 8] = static_cast<uint8_t>(bytes[i / 8] | (bits[i] << (7 - i % 8)));
  }
  return bytes;
}

// `frames` back to back behind `lead_bits` zero bits, followed by 16 zero bits or more.
inline std::vector<uint8_t> stream_of(const std::vector<std::vector<uint8_t>>& frames,
                                      size_t lead_bits) {
  std::vector<uint8_t> bits(lead_bits);
  for (const auto& f : frames) append_bits(bits, f);
  bits.resize(bits.size() + 16);
  return pack_bits(bits);
}
