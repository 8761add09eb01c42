#pragma once
// The uplink frame builder: one payload with its CSP addressing becomes a
// radio frame, which is then transmitted.

#include <cstdint>
#include <span>

// Builds the frame for `payload` (0 to 215 bytes) behind the CSP header with
// priority 2, source 25, flags 0 and the given destination (0-31) and ports
// (0-63), and transmits it with transmit_frame; returns when the transmitter
// is unkeyed again. A longer payload is refused with one console line.
void transmit_packet(std::span<const uint8_t> payload, uint8_t destination, uint8_t source_port,
                     uint8_t destination_port);
