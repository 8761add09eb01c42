#pragma once
// What the ground station does with a received CSP packet that passed its
// check: filter by source, then act by destination port.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "telemetry/telemetry.hpp"

namespace kestrelis {

enum class PacketAction {
  self_generated,      // source 25: our own uplink came back
  ignored,             // any source but 1, a quiet port, a port-29 message of another kind
  too_short,           // a port-8 or port-29 payload under 2 bytes
  telemetry,           // port 8: `telemetry` holds the record
  digipeater_packet,   // port 14: `gui_data` goes to the GUI
  digipeater_message,  // port 29, kind 3: `text` is the message
  unknown_port,
};

// What one packet means for the console and the GUI.
struct Dispatch {
  PacketAction action = PacketAction::ignored;
  uint8_t port = 0;  // the destination port
  size_t payload_size = 0;
  TelemetryRecord telemetry;
  std::vector<uint8_t> gui_data;  // digipeater packet: 0x50, then the payload
  std::string text;               // digipeater message: its text, up to its first zero byte
};

// Decides on the `payload` (0 to 215 bytes between header and CRC) of a
// packet from `source` to `destination_port`:
// - source 25: self_generated; any source but 1: ignored;
// - port 8: the telemetry record; port 14: the packet for the GUI;
// - port 29, kind 3: the text; another kind: ignored;
// - ports 1, 4, 6, 7, 10, 11, 19-23, 26-28: ignored; any other: unknown_port.
// Port-8 and port-29 payloads shorter than two bytes are too_short.
[[nodiscard]] Dispatch dispatch_csp_packet(std::span<const uint8_t> payload,
                                           uint8_t destination_port, uint8_t source);

}  // namespace kestrelis
