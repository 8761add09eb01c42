#pragma once
// A telemetry record as the TNC sends it to the GUI (gui_telemetry_prefix and
// a flat JSON object of string values) and as its packet log holds it, and
// what the client reads from it.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "telemetry/telemetry.hpp"

namespace kestrelis {

// One member of a record: its key and its string value, escapes decoded.
struct JsonMember {
  std::string key;
  std::string value;
};
using JsonObject = std::vector<JsonMember>;

// The members of one flat JSON object of string values ({} included), in
// their order. None when the text is no JSON, or is anything but an object,
// or a value is not a string.
[[nodiscard]] std::optional<JsonObject> parse_json_object(std::string_view text);

// The value of `key`, or null when the object has no such member.
[[nodiscard]] const std::string* find_member(const JsonObject& object, std::string_view key);

// The JSON text of a record frame (the bytes behind gui_telemetry_prefix),
// or none when `data` does not begin with them.
[[nodiscard]] std::optional<std::string_view> telemetry_text(std::span<const uint8_t> data);

// "seconds[.fraction]" (as UNIX holds it) in milliseconds, rounded to the
// nearest millisecond; none for any other text.
[[nodiscard]] std::optional<int64_t> parse_unix_seconds(std::string_view text);

// What the client reads from a record's members for display and selection.
struct RecordInfo {
  std::optional<TelemetryWord> word;  // from `tlm_id`, when it is a number below 65536
  std::optional<int64_t> time_ms;     // record time: unix_s and unix_only_ms, else UNIX
};

[[nodiscard]] RecordInfo record_info(const JsonObject& object);

// "beacon" for tlm_type 2, "telemetry" otherwise.
[[nodiscard]] const char* record_kind(const TelemetryWord& word);

// "YYYY-MM-DD hh:mm:ss.mmm" of `ms` milliseconds since 1970-01-01 UTC, as
// the packet log writes it but with a blank for the T and no Z.
[[nodiscard]] std::string format_utc(int64_t ms);

// Milliseconds since 1970-01-01 UTC of "YYYY-MM-DDThh:mm[:ss[.mmm]]Z"; none
// for any other text, a date or time that does not exist, or one before 1970.
[[nodiscard]] std::optional<int64_t> parse_iso_utc(std::string_view text);

}  // namespace kestrelis
