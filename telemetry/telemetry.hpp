#pragma once
// Telemetry and beacon records: the telemetry word, the field descriptors of
// a record layout, and the decoder that renders a record as one flat JSON
// object of text values for the GUI.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// The six fields of a record's first big-endian 16-bit word (`tlm_id`).
struct TelemetryWord {
  uint8_t flight = 0;       // bit 15
  uint8_t running_ram = 0;  // bit 14
  uint8_t tlm_sat = 0;      // bits 13-12: satellite number
  uint8_t tlm_swv = 0;      // bits 11-8
  uint8_t tlm_version = 0;  // bits 7-3: layout version within the satellite
  uint8_t tlm_type = 0;     // bits 2-0: 2 is a beacon, anything else telemetry
};

[[nodiscard]] constexpr TelemetryWord split_telemetry_word(uint16_t word) {
  return {static_cast<uint8_t>((word >> 15) & 0x1), static_cast<uint8_t>((word >> 14) & 0x1),
          static_cast<uint8_t>((word >> 12) & 0x3), static_cast<uint8_t>((word >> 8) & 0xF),
          static_cast<uint8_t>((word >> 3) & 0x1F), static_cast<uint8_t>(word & 0x7)};
}

// One field of a record layout: `count` elements of `type` lying back to back
// from byte `data` of the record. `type` is one of "uint16_t", "int16_t",
// "uint32_t", "int32_t", "uint8_t", "int8_t", "double", "float", "float_msb".
struct FieldDescriptor {
  size_t data = 0;
  std::string_view name;
  int32_t count = 1;
  std::string_view type;
};

// Decodes a port-8 payload (0 to 215 bytes, starting with `tlm_id`) whose
// word is `word`. Prints the satellite number, picks the layout, logs and
// sends to the GUI the record time, and sends the JSON object with
// send_telemetry_json. A payload shorter than its layout's record is read as
// if zero-filled; when that leaves a field short, a console line says so.
void decode_telemetry(std::span<const uint8_t> payload, const TelemetryWord& word);

// unix_s * 1000 + unix_only_ms of a record head (big-endian at offsets 4 and
// 2); only bytes 2 to 7 are read.
[[nodiscard]] uint64_t record_time_ms(std::span<const uint8_t, 8> head);

// "DD/MM hh:mm:ss.mmm" of `ms` milliseconds since 1970-01-01 UTC.
[[nodiscard]] std::string format_utc_time_ms(uint64_t ms);

// Appends "\"name\":\"value\"," to `json`, with the key "name_element" when
// the field is an array (count 2 or more).
void append_json_member(std::string& json, std::string_view value, const FieldDescriptor& field,
                        int32_t element);

// The members of every field of `fields` read from `record`, in table order,
// without the comma after the last one. Elements of an unknown type, and
// elements that would lie past the end of `record`, render nothing.
[[nodiscard]] std::string render_json_members(std::span<const uint8_t> record,
                                              std::span<const FieldDescriptor> fields);

// Sends 0x64 0xC4 0x03 "{" members "}" to the GUI as one frame.
void send_telemetry_json(std::string_view members);
