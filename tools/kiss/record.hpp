#pragma once
// A telemetry record as the TNC sends it to the GUI: gui_telemetry_prefix
// and a flat JSON object of string values, and what the client reads from it
// and from the lines of its own JSON Lines files.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "telemetry/telemetry.hpp"

namespace kestrelis {

// One member of a flat JSON object. The key, and a string value, are the
// text between the quotes as it stands, escapes kept (checked, not decoded);
// a number or null value is its literal text.
struct JsonMember {
  std::string key;
  std::string value;
};
using JsonObject = std::vector<JsonMember>;

// The values an object may hold: strings only (what the TNC sends), or also
// numbers and null (what the client writes to its JSON Lines files).
enum class JsonValues { strings, scalars };

// Parses one flat JSON object ({} included), with optional white space
// between the tokens. None when the text is anything else: a value `values`
// does not allow, nesting, a bad escape, a raw control character, a key
// given twice, or text after the closing brace.
[[nodiscard]] std::optional<JsonObject> parse_json_object(std::string_view text,
                                                          JsonValues values = JsonValues::strings);

// True when `text` is a number as JSON writes it ("-12", "0.5", "1e3"; not
// "+1", "01", ".5", "nan").
[[nodiscard]] bool is_json_number(std::string_view text);

// The value of `key`, or null when the object has no such member.
[[nodiscard]] const std::string* find_member(const JsonObject& object, std::string_view key);

// The JSON text of a record frame (the bytes behind gui_telemetry_prefix),
// or none when `data` does not begin with them.
[[nodiscard]] std::optional<std::string_view> telemetry_text(std::span<const uint8_t> data);

// "seconds[.fraction]" (as UNIX holds it) in milliseconds, rounded to the
// nearest millisecond; none for any other text.
[[nodiscard]] std::optional<int64_t> parse_unix_seconds(std::string_view text);

// What the client reads from a record's members for display and file names.
struct RecordInfo {
  std::optional<TelemetryWord> word;  // from `tlm_id`, when it is a number below 65536
  std::optional<int64_t> time_ms;     // record time: unix_s and unix_only_ms, else UNIX
};

[[nodiscard]] RecordInfo record_info(const JsonObject& object);

// "beacon" for tlm_type 2, "telemetry" otherwise.
[[nodiscard]] const char* record_kind(const TelemetryWord& word);

// "YYYY-MM-DD hh:mm:ss.mmm" of `ms` milliseconds since 1970-01-01 UTC.
[[nodiscard]] std::string format_utc(int64_t ms);

// "YYYY-MM-DDThh:mm:ss.mmmZ", the same time in ISO 8601 form.
[[nodiscard]] std::string format_iso_utc(int64_t ms);

// Milliseconds since 1970-01-01 UTC of "YYYY-MM-DDThh:mm[:ss[.mmm]]Z"; none
// for any other text, a date or time that does not exist, or one before 1970.
[[nodiscard]] std::optional<int64_t> parse_iso_utc(std::string_view text);

// "seconds.mmm" of `ms` milliseconds since 1970-01-01 UTC.
[[nodiscard]] std::string format_unix_seconds(int64_t ms);

}  // namespace kestrelis
