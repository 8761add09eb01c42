#pragma once
// The operator's view of what the TNC sends to the GUI. Every line begins
// with a word that says what it is, so that scripts can pick lines out:
//   TEXT [05/12 14:03:07.412] Received: Beacon 05/12 14:03:06.250
//   TELEMETRY sat=1 v=5 beacon, 2026-12-05 14:03:06.250 UTC, 64 fields
//     tlm_id=4138       unix_only_ms=250   ...
//   PACKET 5 bytes
//     0000  48 65 6c 6c 6f                                    |Hello|
//   FRAME 3 bytes of unknown kind 0x41

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "kiss/record.hpp"

namespace kestrelis {

// Lines of "  offset  hex bytes  |text|", 16 bytes a line, showing at most
// `max_bytes` and then a line with the number of bytes left out.
[[nodiscard]] std::string hex_dump(std::span<const uint8_t> bytes, size_t max_bytes);

// The console lines (each ending in "\n") for a parsed telemetry record: a
// TELEMETRY line with satellite, layout version, kind, record time in UTC and
// the number of fields, then the fields as name=value in aligned columns.
[[nodiscard]] std::string describe_record(const JsonObject& object);

// The console lines for the data of one frame from the TNC: a text line
// (gui_text_kind, "["), a digipeater packet (gui_text_kind and anything but
// "["), a telemetry record (gui_telemetry_prefix and a JSON object; a
// malformed one is shown in hex and refused), or anything else in hex.
// Never fails, whatever `data` holds.
[[nodiscard]] std::string describe_frame(std::span<const uint8_t> data);

}  // namespace kestrelis
