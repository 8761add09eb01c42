#include "archive/packet_log.hpp"

#include <nlohmann/json.hpp>

#include "console/console_log.hpp"
#include "text/calendar.hpp"

namespace kestrelis {

namespace {

constexpr char hex_digits[] = "0123456789abcdef";

// Longest line a reader takes: a whole packet in hex and its telemetry
// object are well under it.
constexpr size_t longest_line = 64 * 1024;

// Deepest nesting a reader takes; the TNC writes two levels.
constexpr int deepest_nesting = 4;

// Smallest and largest whole packet: header and CRC; the largest codeword
// (255 bytes) less its 32 parity bytes.
constexpr size_t smallest_packet = 8;
constexpr size_t largest_packet = 223;

// The satellite's text as a JSON string. It is not always UTF-8, so bytes
// from 0x80 up are written as the code points of the same value: the text
// stays valid JSON and no byte is lost.
void append_json_string(std::string& out, std::string_view text) {
  out += '"';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte >= 0x7f) {
      out += "\\u00";
      out += hex_digits[byte >> 4];
      out += hex_digits[byte & 0xf];
    } else {
      out += c;
    }
  }
  out += '"';
}

const char* decoded_name(const Dispatch* d) {
  if (d == nullptr) return "none";
  switch (d->action) {
    case PacketAction::telemetry:
      return d->telemetry.status == TelemetryStatus::decoded ? "telemetry" : "none";
    case PacketAction::digipeater_message:
      return "digipeater_text";
    case PacketAction::digipeater_packet:
      return "digipeater_packet";
    default:
      return "none";
  }
}

bool is_decoded_name(std::string_view name) {
  return name == "telemetry" || name == "digipeater_text" || name == "digipeater_packet" ||
         name == "none";
}

// Nesting depth of brackets and braces outside strings, so that a hostile
// line cannot drive the parser deep.
int nesting_depth(std::string_view line) {
  int depth = 0;
  int deepest = 0;
  bool in_string = false;
  bool escaped = false;
  for (const char c : line) {
    if (in_string) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '{' || c == '[') {
      deepest = std::max(deepest, ++depth);
    } else if (c == '}' || c == ']') {
      --depth;
    }
  }
  return deepest;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::vector<uint8_t>> parse_hex(std::string_view text) {
  if (text.size() % 2 != 0) return std::nullopt;
  std::vector<uint8_t> bytes;
  bytes.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = hex_value(text[i]);
    const int low = hex_value(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(high << 4 | low));
  }
  return bytes;
}

// True when `text` has a digit wherever `shape` has 'd' and the same
// character everywhere else.
bool has_shape(std::string_view text, std::string_view shape) {
  if (text.size() != shape.size()) return false;
  for (size_t i = 0; i < shape.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (shape[i] == 'd' ? !digit : text[i] != shape[i]) return false;
  }
  return true;
}

bool is_iso_utc_ms(std::string_view text) {
  return has_shape(text, "dddd-dd-ddTdd:dd:dd.dddZ");
}

std::optional<int> integer_in(const nlohmann::ordered_json& object, const char* key, int low,
                              int high) {
  const auto it = object.find(key);
  if (it == object.end() || !it->is_number_integer()) return std::nullopt;
  const auto value = it->get<int64_t>();
  if (value < low || value > high) return std::nullopt;
  return static_cast<int>(value);
}

const std::string* string_of(const nlohmann::ordered_json& object, const char* key) {
  const auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get_ptr<const std::string*>() : nullptr;
}

}  // namespace

std::string iso_utc_ms(int64_t utc_ms) {
  const int64_t seconds = utc_ms >= 0 ? utc_ms / 1000 : -((-utc_ms + 999) / 1000);
  const CalendarFields t = utc_fields(seconds);
  return format_text("%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", t.year, t.month, t.day, t.hour,
                     t.minute, t.second, static_cast<int>(utc_ms - seconds * 1000));
}

std::string packet_log_file_name(int64_t utc_ms) {
  return iso_utc_ms(utc_ms).substr(0, 10) + ".jsonl";
}

bool is_packet_log_file_name(std::string_view name) {
  return has_shape(name, "dddd-dd-dd.jsonl");
}

std::string packet_log_line(const PacketLogEntry& entry) {
  std::string line = "{\"received\":\"" + iso_utc_ms(entry.received_ms) + "\",\"frame\":\"";
  for (const uint8_t byte : entry.packet) {
    line += hex_digits[byte >> 4];
    line += hex_digits[byte & 0xf];
  }
  line += format_text("\",\"rs_corrected\":%d,\"crc_tolerated\":%s,\"source\":%u,\"port\":%u",
                      entry.rs_corrected, entry.crc_tolerated ? "true" : "false",
                      unsigned{entry.source}, unsigned{entry.port});
  const std::string_view decoded = decoded_name(entry.dispatch);
  line += ",\"decoded\":\"" + std::string(decoded) + "\"";
  if (decoded == "telemetry") {
    line += ",\"telemetry\":{" + entry.dispatch->telemetry.members + "}";
  } else if (decoded == "digipeater_text") {
    line += ",\"text\":";
    append_json_string(line, entry.dispatch->text);
  }
  line += "}\n";
  return line;
}

std::optional<LoggedPacket> parse_packet_log_line(std::string_view line) {
  if (line.size() > longest_line || nesting_depth(line) > deepest_nesting) return std::nullopt;
  // Ordered, so that the telemetry object keeps the order of its members.
  const nlohmann::ordered_json object = nlohmann::ordered_json::parse(line, nullptr, false);
  if (!object.is_object()) return std::nullopt;  // also a line that did not parse

  LoggedPacket p;
  const std::string* received = string_of(object, "received");
  const std::string* frame = string_of(object, "frame");
  const std::string* decoded = string_of(object, "decoded");
  const auto tolerated = object.find("crc_tolerated");
  if (received == nullptr || !is_iso_utc_ms(*received) || frame == nullptr ||
      decoded == nullptr || !is_decoded_name(*decoded) || tolerated == object.end() ||
      !tolerated->is_boolean()) {
    return std::nullopt;
  }
  auto bytes = parse_hex(*frame);
  if (!bytes || bytes->size() < smallest_packet || bytes->size() > largest_packet) {
    return std::nullopt;
  }
  const auto corrected = integer_in(object, "rs_corrected", 0, 16);
  const auto source = integer_in(object, "source", 0, 31);
  const auto port = integer_in(object, "port", 0, 63);
  if (!corrected || !source || !port) return std::nullopt;

  p.received = *received;
  p.frame = std::move(*bytes);
  p.rs_corrected = *corrected;
  p.crc_tolerated = tolerated->get<bool>();
  p.source = *source;
  p.port = *port;
  p.decoded = *decoded;
  if (const auto telemetry = object.find("telemetry");
      telemetry != object.end() && telemetry->is_object()) {
    p.telemetry = telemetry->dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  }
  return p;
}

}  // namespace kestrelis
