#include "kiss/record.hpp"

#include <algorithm>
#include <array>
#include <cstdio>

#include "text/calendar.hpp"
#include "wire/kiss.hpp"

namespace kestrelis {

namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool is_hex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

void skip_space(std::string_view text, size_t& at) {
  while (at < text.size() && is_space(text[at])) ++at;
}

// Reads the string that opens at `at` (a double quote) and leaves `at` behind
// its closing quote; none when it is not a well-formed JSON string.
std::optional<std::string> read_string(std::string_view text, size_t& at) {
  if (at >= text.size() || text[at] != '"') return std::nullopt;
  size_t start = ++at;
  while (at < text.size()) {
    char c = text[at];
    if (c == '"') return std::string(text.substr(start, at++ - start));
    if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
    if (c == '\\') {
      if (++at >= text.size()) return std::nullopt;
      char e = text[at];
      if (e == 'u') {
        if (at + 4 >= text.size()) return std::nullopt;
        for (size_t i = 1; i <= 4; ++i) {
          if (!is_hex(text[at + i])) return std::nullopt;
        }
        at += 4;
      } else if (std::string_view("\"\\/bfnrt").find(e) == std::string_view::npos) {
        return std::nullopt;
      }
    }
    ++at;
  }
  return std::nullopt;
}

size_t digits_from(std::string_view text, size_t at) {
  size_t start = at;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
  return at - start;
}

// Reads the number or null that starts at `at` and leaves `at` behind it.
std::optional<std::string> read_scalar(std::string_view text, size_t& at) {
  if (text.substr(at, 4) == "null") {
    at += 4;
    return "null";
  }
  size_t end = text.find_first_of(",} \t\r\n", at);
  if (end == std::string_view::npos) end = text.size();
  std::string_view number = text.substr(at, end - at);
  if (!is_json_number(number)) return std::nullopt;
  at = end;
  return std::string(number);
}

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

bool is_json_number(std::string_view text) {
  size_t at = text.starts_with('-') ? 1 : 0;
  size_t whole = digits_from(text, at);
  if (whole == 0 || (whole > 1 && text[at] == '0')) return false;
  at += whole;
  if (at < text.size() && text[at] == '.') {
    size_t fraction = digits_from(text, ++at);
    if (fraction == 0) return false;
    at += fraction;
  }
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    if (++at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
    size_t exponent = digits_from(text, at);
    if (exponent == 0) return false;
    at += exponent;
  }
  return at == text.size();
}

std::optional<JsonObject> parse_json_object(std::string_view text, JsonValues values) {
  JsonObject object;
  size_t at = 0;
  skip_space(text, at);
  if (at >= text.size() || text[at++] != '{') return std::nullopt;
  skip_space(text, at);
  if (at < text.size() && text[at] == '}') {
    ++at;
  } else {
    for (;;) {
      auto key = read_string(text, at);
      skip_space(text, at);
      if (!key || at >= text.size() || text[at++] != ':') return std::nullopt;
      skip_space(text, at);
      auto value = at < text.size() && text[at] != '"' && values == JsonValues::scalars
                       ? read_scalar(text, at)
                       : read_string(text, at);
      if (!value || find_member(object, *key) != nullptr) return std::nullopt;
      object.push_back({std::move(*key), std::move(*value)});
      skip_space(text, at);
      if (at >= text.size()) return std::nullopt;
      char c = text[at++];
      if (c == '}') break;
      if (c != ',') return std::nullopt;
      skip_space(text, at);
    }
  }
  skip_space(text, at);
  if (at != text.size()) return std::nullopt;
  return object;
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

namespace {

std::string format_time(int64_t ms, const char* format) {
  int64_t seconds = ms / 1000;
  CalendarFields t = utc_fields(seconds);
  std::array<char, 64> text{};
  std::snprintf(text.data(), text.size(), format, t.year, t.month, t.day, t.hour, t.minute,
                t.second, static_cast<int>(ms % 1000));
  return text.data();
}

}  // namespace

std::string format_utc(int64_t ms) { return format_time(ms, "%04d-%02d-%02d %02d:%02d:%02d.%03d"); }

std::string format_iso_utc(int64_t ms) {
  return format_time(ms, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ");
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
  constexpr int64_t month_days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  if (year < 1970 || month < 1 || month > 12 || day < 1 ||
      day > month_days[month - 1] + (month == 2 && leap ? 1 : 0) || hour > 23 || minute > 59 ||
      second > 59) {
    return std::nullopt;
  }
  const int64_t days = days_from_civil(year, month, day);
  return ((days * 24 + hour) * 60 + minute) * 60000 + second * 1000 + ms;
}

std::string format_unix_seconds(int64_t ms) {
  std::array<char, 32> text{};
  std::snprintf(text.data(), text.size(), "%lld.%03d", static_cast<long long>(ms / 1000),
                static_cast<int>(ms % 1000));
  return text.data();
}

}  // namespace kestrelis
