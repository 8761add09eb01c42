#pragma once
// The packet log: every packet that passed its check, one JSON object per
// line, one file per UTC day (Kestrelis/packets/YYYY-MM-DD.jsonl). Written by
// the TNC, read by the forwarder and the tests. A line looks like
//   {"received":"2026-12-06T21:57:21.123Z","frame":"8a...","rs_corrected":2,
//    "crc_tolerated":false,"source":1,"port":8,"decoded":"telemetry",
//    "telemetry":{"tlm_id":"4138",...}}
// "decoded" is "telemetry" (with the "telemetry" object), "digipeater_text"
// (with "text"), "digipeater_packet" or "none".

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "packet/dispatch.hpp"

namespace kestrelis {

// What the TNC knows of one accepted packet when it logs it.
struct PacketLogEntry {
  int64_t received_ms = 0;            // UTC, ms since 1970
  std::span<const uint8_t> packet;    // CSP header, payload and CRC
  int rs_corrected = 0;               // bytes Reed-Solomon corrected
  bool crc_tolerated = false;         // accepted only through the 4-bit tolerance
  uint8_t source = 0;
  uint8_t port = 0;                   // destination port
  const Dispatch* dispatch = nullptr; // what the TNC made of it; null: nothing
};

// The log line of `entry`, ending in "\n".
[[nodiscard]] std::string packet_log_line(const PacketLogEntry& entry);

// One line of the log as a reader sees it.
struct LoggedPacket {
  std::string received;        // as written: "YYYY-MM-DDThh:mm:ss.mmmZ"
  std::vector<uint8_t> frame;  // the whole packet
  int rs_corrected = 0;
  bool crc_tolerated = false;
  int source = 0;
  int port = 0;
  std::string decoded;  // "telemetry", "digipeater_text", "digipeater_packet" or "none"
  std::string telemetry = {};  // the "telemetry" object as JSON text ("{...}"); empty when none
};

// Reads one line (without its line end). None for anything that is not a
// whole, well-formed log line: the log is read as untrusted input.
[[nodiscard]] std::optional<LoggedPacket> parse_packet_log_line(std::string_view line);

// "YYYY-MM-DD.jsonl", the log file of the UTC day holding `utc_ms`.
[[nodiscard]] std::string packet_log_file_name(int64_t utc_ms);

// True for a name of the form packet_log_file_name gives.
[[nodiscard]] bool is_packet_log_file_name(std::string_view name);

// "YYYY-MM-DDThh:mm:ss.mmmZ" of `utc_ms`.
[[nodiscard]] std::string iso_utc_ms(int64_t utc_ms);

}  // namespace kestrelis
