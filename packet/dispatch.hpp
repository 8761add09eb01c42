#pragma once
// What the ground station does with a received CSP packet that passed its
// check: filter by source, then act by destination port.

#include <cstdint>
#include <span>

// Acts on the `payload` (0 to 215 bytes between header and CRC, borrowed for
// the call) of a packet from `source` to `destination_port`:
// - source 25: "Received self-generated packet\n"; any source but 1: nothing;
// - port 8: decode_telemetry with the payload and its first word;
// - port 14: "Digipeater packet\r\n", and 0x50 followed by the payload to the GUI;
// - port 29, kind 3: "Digipeater message \r\n", and "Received: <text>" to the GUI;
// - ports 1, 4, 6, 7, 10, 11, 19-23, 26-28: nothing;
// - any other port: "ERROR: Unknown CSP Port %u\r\n".
// Port-8 and port-29 payloads shorter than two bytes are dropped with
// "Dropped port %u packet of %zu bytes: too short\r\n".
void dispatch_csp_packet(std::span<const uint8_t> payload, uint8_t destination_port,
                         uint8_t source);
