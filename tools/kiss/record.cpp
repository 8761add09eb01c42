#include "kiss/record.hpp"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "archive/packet_log.hpp"
#include "text/calendar.hpp"
#include "wire/kiss.hpp"

namespace kestrelis {

namespace {

// A run of 1 to 18 decimal digits and nothing else.
std::optional<int64_t> parse_digits(std::string_view text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace

std::optional<JsonObject> parse_json_object(std::string_view text) {
  // Ordered, so that the members keep the order the TNC gave them.
  const auto parsed = nlohmann::ordered_json::parse(text, nullptr, false);
  if (!parsed.is_object()) return std::nullopt;  // also text that did not parse
  JsonObject object;
  for (const auto& [key, value] : parsed.items()) {
    if (!value.is_string()) return std::nullopt;
    object.push_back({key, value.get<std::string>()});
  }
  return object;
}

std::optional<int64_t> parse_unix_seconds(std::string_view text) {
  size_t dot = text.find('.');
  auto seconds = parse_digits(text.substr(0, dot));
  if (!seconds || *seconds > int64_t{1} << 40) return std::nullopt;
  int64_t ms = *seconds * 1000;
  if (dot == std::string_view::npos) return ms;
  std::string_view fraction = text.substr(dot + 1);
  if (fraction.empty()) return std::nullopt;
  for (char c : fraction) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  int64_t micros = 0;
  for (size_t i = 0; i < 6; ++i)
    micros = micros * 10 + (i < fraction.size() ? fraction[i] - '0' : 0);
  return ms + (micros + 500) / 1000;
}

const std::string* find_member(const JsonObject& object, std::string_view key) {
  for (const JsonMember& m : object) {
    if (m.key == key) return &m.value;
  }
  return nullptr;
}

std::optional<std::string_view> telemetry_text(std::span<const uint8_t> data) {
  const size_t head = gui_telemetry_prefix.size();
  if (data.size() < head ||
      !std::equal(gui_telemetry_prefix.begin(), gui_telemetry_prefix.end(), data.begin())) {
    return std::nullopt;
  }
  return std::string_view(reinterpret_cast<const char*>(data.data()) + head, data.size() - head);
}

RecordInfo record_info(const JsonObject& object) {
  RecordInfo info;
  if (const std::string* id = find_member(object, "tlm_id")) {
    auto word = parse_digits(*id);
    if (word && *word <= 0xFFFF) info.word = split_telemetry_word(static_cast<uint16_t>(*word));
  }
  const std::string* seconds = find_member(object, "unix_s");
  const std::string* millis = find_member(object, "unix_only_ms");
  auto s = seconds ? parse_digits(*seconds) : std::nullopt;
  auto ms = millis ? parse_digits(*millis) : std::optional<int64_t>(0);
  if (s && ms && *s <= 0xFFFFFFFF && *ms <= 0xFFFF) {
    info.time_ms = *s * 1000 + *ms;
  } else if (const std::string* unix_time = find_member(object, "UNIX")) {
    info.time_ms = parse_unix_seconds(*unix_time);
  }
  return info;
}

const char* record_kind(const TelemetryWord& word) {
  return word.tlm_type == beacon_tlm_type ? "beacon" : "telemetry";
}

std::string format_utc(int64_t ms) {
  std::string text = iso_utc_ms(ms);
  text[10] = ' ';
  text.pop_back();
  return text;
}

std::optional<int64_t> parse_iso_utc(std::string_view text) {
  // Digits where the shape has 'd', the shape's own character elsewhere.
  const auto fits = [](std::string_view part, std::string_view shape) {
    if (part.size() != shape.size()) return false;
    for (size_t i = 0; i < shape.size(); ++i) {
      const bool digit = part[i] >= '0' && part[i] <= '9';
      if (shape[i] == 'd' ? !digit : part[i] != shape[i]) return false;
    }
    return true;
  };
  const auto number = [&](size_t at, size_t n) {
    int64_t value = 0;
    for (size_t i = at; i < at + n; ++i) value = value * 10 + (text[i] - '0');
    return value;
  };
  if (!fits(text, "dddd-dd-ddTdd:ddZ") && !fits(text, "dddd-dd-ddTdd:dd:ddZ") &&
      !fits(text, "dddd-dd-ddTdd:dd:dd.dddZ")) {
    return std::nullopt;
  }
  const int64_t year = number(0, 4);
  const int64_t month = number(5, 2);
  const int64_t day = number(8, 2);
  const int64_t hour = number(11, 2);
  const int64_t minute = number(14, 2);
  const int64_t second = text.size() > 17 ? number(17, 2) : 0;
  const int64_t ms = text.size() > 21 ? number(20, 3) : 0;
  if (year < 1970 || month < 1 || month > 12 || day < 1 || day > days_in_month(year, month) ||
      hour > 23 || minute > 59 || second > 59) {
    return std::nullopt;
  }
  const int64_t days = days_from_civil(year, month, day);
  return ((days * 24 + hour) * 60 + minute) * 60000 + second * 1000 + ms;
}

}  // namespace kestrelis
