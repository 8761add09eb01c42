#pragma once
// Telemetry and beacon records: the telemetry word, the field descriptors of
// a record layout, and the decoder that renders a record as the members of
// one flat JSON object of text values.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrelis {

// The six fields of a record's first big-endian 16-bit word (`tlm_id`).
struct TelemetryWord {
  uint8_t flight = 0;       // bit 15
  uint8_t running_ram = 0;  // bit 14
  uint8_t tlm_sat = 0;      // bits 13-12: satellite number
  uint8_t tlm_swv = 0;      // bits 11-8
  uint8_t tlm_version = 0;  // bits 7-3: layout version within the satellite
  uint8_t tlm_type = 0;     // bits 2-0: 2 is a beacon, anything else telemetry
};

constexpr uint8_t beacon_tlm_type = 2;

[[nodiscard]] constexpr TelemetryWord split_telemetry_word(uint16_t word) {
  return {static_cast<uint8_t>((word >> 15) & 0x1), static_cast<uint8_t>((word >> 14) & 0x1),
          static_cast<uint8_t>((word >> 12) & 0x3), static_cast<uint8_t>((word >> 8) & 0xF),
          static_cast<uint8_t>((word >> 3) & 0x1F), static_cast<uint8_t>(word & 0x7)};
}

// The element types of record fields: big-endian integers, a double in the
// host's byte order, a float least or most significant byte first.
enum class FieldType : uint8_t { u16, i16, u32, i32, u8, i8, host_double, float_lsb, float_msb };

// Bytes one element of `type` takes in a record.
[[nodiscard]] constexpr size_t field_width(FieldType type) {
  switch (type) {
    case FieldType::u8:
    case FieldType::i8:
      return 1;
    case FieldType::u16:
    case FieldType::i16:
      return 2;
    case FieldType::host_double:
      return 8;
    default:
      return 4;
  }
}

// One field of a record layout: `count` elements of `type` lying back to back
// from byte `data` of the record.
struct FieldDescriptor {
  size_t data = 0;
  std::string_view name;
  int32_t count = 1;
  FieldType type = FieldType::u8;
};

enum class TelemetryStatus {
  unknown_satellite,  // neither satellite 1 nor 3
  unknown_version,    // a known satellite, a layout version it does not have
  decoded,
};

// What the decoder made of one port-8 payload.
struct TelemetryRecord {
  TelemetryStatus status = TelemetryStatus::unknown_satellite;
  uint8_t tlm_sat = 0;
  std::string label;  // "Beacon", "Telemetry", "Alt. Beacon" or "Alt. Telemetry"
  std::string time;   // the record time, "DD/MM hh:mm:ss.mmm" UTC
  size_t payload_size = 0;
  size_t needed_size = 0;  // bytes the layout's fields reach; more than the payload: short
  std::string members;     // the JSON members, without braces; empty unless decoded
  [[nodiscard]] bool short_record() const { return payload_size < needed_size; }
};

// Decodes a port-8 payload (0 to 215 bytes, starting with `tlm_id`) whose
// word is `word`. A payload shorter than its layout's record is read as if
// zero-filled. The members end with the derived UNIX value.
[[nodiscard]] TelemetryRecord decode_telemetry(std::span<const uint8_t> payload,
                                               const TelemetryWord& word);

// unix_s * 1000 + unix_only_ms of a record head (big-endian at offsets 4 and
// 2); only bytes 2 to 7 are read.
[[nodiscard]] uint64_t record_time_ms(std::span<const uint8_t, 8> head);

// "DD/MM hh:mm:ss.mmm" of `ms` milliseconds since 1970-01-01 UTC.
[[nodiscard]] std::string format_utc_time_ms(uint64_t ms);

// The members of every field of `fields` read from `record`, in table order,
// without the comma after the last one: "\"name\":\"value\"", with the key
// "name_element" for arrays (count 2 or more). Elements that would lie past
// the end of `record` render nothing.
[[nodiscard]] std::string render_json_members(std::span<const uint8_t> record,
                                              std::span<const FieldDescriptor> fields);

// The JSON key of element `element` of `field`: its name, with "_element"
// after it for arrays (count 2 or more).
[[nodiscard]] std::string telemetry_member_key(const FieldDescriptor& field, int32_t element);

// The GUI message of a telemetry object: 0x64 0xC4 0x03 "{" members "}".
[[nodiscard]] std::vector<uint8_t> telemetry_message(std::string_view members);

}  // namespace kestrelis
