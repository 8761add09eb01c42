#pragma once
// Test support: the frame of the "list" command, frames of any packet, and bit
// streams as the modem delivers them, most significant bit first.

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "common/bit_packer.hpp"
#include "wire/frame.hpp"
#include "wire/reed_solomon.hpp"

namespace kestrelis {

// Payload 0x4C from source 25 (header B2 13 8E 00) to destination 1, ports 14.
inline const std::vector<uint8_t> list_frame = {
    0x93, 0x0B, 0x51, 0xDE, 0x9A, 0x40, 0x29, 0x4D, 0x5B, 0x80, 0xC0, 0xD6, 0x27, 0xB1, 0x41, 0xC2,
    0xF7, 0x04, 0x79, 0x52, 0x92, 0x06, 0xA1, 0xB2, 0xA2, 0x70, 0x34, 0xD6, 0x52, 0x81, 0xAB, 0x80,
    0x2B, 0xF8, 0xE6, 0x2A, 0x97, 0x08, 0x82, 0xE5, 0x85, 0xFF, 0x05, 0x64, 0x3E, 0x39, 0x73, 0x7D};

// The frame of `packet` (CSP header, payload, CRC) as it stands, whatever its
// CRC: prefix, then the packet with its RS parity, randomised.
inline std::vector<uint8_t> frame_of_packet(std::span<const uint8_t> packet) {
  std::vector<uint8_t> frame(frame_prefix_size);
  make_frame_prefix(std::span(frame).first<frame_prefix_size>(),
                    static_cast<unsigned>(packet.size() + rs_parity_size));
  frame.insert(frame.end(), packet.begin(), packet.end());
  frame.resize(frame.size() + rs_parity_size);
  const int pad = 223 - static_cast<int>(packet.size());
  (void)rs_encode(rs_codec(), packet, std::span(frame).last<rs_parity_size>(), pad);
  apply_randomizer(std::span(frame).subspan(frame_prefix_size));
  return frame;
}

// Writes the bits of `bytes` (one 0 or 1 per element) over `bits` from bit
// `at`, growing it if needed.
inline void put_bytes(std::vector<uint8_t>& bits, size_t at, std::span<const uint8_t> bytes) {
  bits.resize(std::max(bits.size(), at + 8 * bytes.size()));
  for (size_t i = 0; i < 8 * bytes.size(); ++i) bits[at + i] = (bytes[i / 8] >> (7 - i % 8)) & 1;
}

// Packs bits (one 0 or 1 per element) into bytes, the last one filled up with zero bits.
inline std::vector<uint8_t> pack_bits(const std::vector<uint8_t>& bits) {
  BitPacker p;
  for (uint8_t bit : bits) pack_bits(p, bit, 1);
  pad_to_byte(p);
  return p.bytes;
}

}  // namespace kestrelis
