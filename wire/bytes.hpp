#pragma once
// Big-endian loads and stores for the radio link and the telemetry records,
// built from shifts so that no struct is ever cast over a packet.

#include <cstdint>
#include <span>

namespace kestrelis {

constexpr uint16_t load_be16(std::span<const uint8_t, 2> b) {
  return static_cast<uint16_t>((b[0] << 8) | b[1]);
}

constexpr uint32_t load_be32(std::span<const uint8_t, 4> b) {
  return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

constexpr void store_be16(std::span<uint8_t, 2> b, uint16_t v) {
  b[0] = static_cast<uint8_t>(v >> 8);
  b[1] = static_cast<uint8_t>(v);
}

constexpr void store_be32(std::span<uint8_t, 4> b, uint32_t v) {
  b[0] = static_cast<uint8_t>(v >> 24);
  b[1] = static_cast<uint8_t>(v >> 16);
  b[2] = static_cast<uint8_t>(v >> 8);
  b[3] = static_cast<uint8_t>(v);
}

}  // namespace kestrelis
