#pragma once
// The 32-bit CSP header, most significant byte first, and the addresses and
// ports with a fixed role at this ground station.

#include <array>
#include <cstdint>
#include <span>

namespace kestrelis {

// priority:2 | source:5 | destination:5 | destination_port:6 | source_port:6 | flags:8
struct CspHeader {
  uint8_t priority = 2;
  uint8_t source = 25;
  uint8_t destination = 0;
  uint8_t destination_port = 0;
  uint8_t source_port = 0;
  uint8_t flags = 0;
};

constexpr uint8_t ground_station_address = 25;  // source of every uplink packet
constexpr uint8_t satellite_address = 1;        // the only source acted on
constexpr uint8_t ping_address = 5;             // destination of "ping"

constexpr uint8_t relay_address = 31;  // every station in view: relayed messages

constexpr uint8_t ping_port = 1;                 // destination port of "ping"
constexpr uint8_t telemetry_port = 8;            // telemetry and beacon records
constexpr uint8_t digipeater_port = 14;          // digipeater packets and commands
constexpr uint8_t digipeater_message_port = 29;  // digipeater text messages
constexpr uint8_t message_source_port = 30;      // source port of an uplink message request

constexpr std::array<uint8_t, 4> csp_header_bytes(const CspHeader& h) {
  return {static_cast<uint8_t>(((h.priority & 0x3) << 6) | ((h.source & 0x1F) << 1) |
                               ((h.destination >> 4) & 0x1)),
          static_cast<uint8_t>(((h.destination & 0x0F) << 4) | ((h.destination_port >> 2) & 0x0F)),
          static_cast<uint8_t>(((h.destination_port & 0x3) << 6) | (h.source_port & 0x3F)),
          h.flags};
}

constexpr unsigned csp_source(std::span<const uint8_t, 4> h) {
  return static_cast<unsigned>((h[0] >> 1) & 0x1F);
}

constexpr unsigned csp_destination_port(std::span<const uint8_t, 4> h) {
  return static_cast<unsigned>(((h[1] & 0x0F) << 2) | (h[2] >> 6));
}

// The mirror of csp_header_bytes.
constexpr CspHeader unpack_csp_header(std::span<const uint8_t, 4> h) {
  return {.priority = static_cast<uint8_t>(h[0] >> 6),
          .source = static_cast<uint8_t>(csp_source(h)),
          .destination = static_cast<uint8_t>(((h[0] & 0x1) << 4) | (h[1] >> 4)),
          .destination_port = static_cast<uint8_t>(csp_destination_port(h)),
          .source_port = static_cast<uint8_t>(h[2] & 0x3F),
          .flags = h[3]};
}

}  // namespace kestrelis
