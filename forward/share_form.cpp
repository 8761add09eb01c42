#include "forward/share_form.hpp"

namespace kestrelis {

namespace {

constexpr char upper_hex[] = "0123456789ABCDEF";

void append_escaped(std::string& out, std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '.' || c == '_' || c == '~';
    if (plain) {
      out += c;
    } else {
      out += '%';
      out += upper_hex[byte >> 4];
      out += upper_hex[byte & 0xF];
    }
  }
}

}  // namespace

FormFields share_fields(const ForwardConfig& config, const StationPosition& position,
                        const LoggedPacket& packet) {
  std::string frame;
  frame.reserve(packet.frame.size() * 2);
  for (const uint8_t byte : packet.frame) {
    frame += upper_hex[byte >> 4];
    frame += upper_hex[byte & 0xF];
  }
  return {{"noradID", config.NoradID},     {"source", config.CallFrom},
          {"timestamp", packet.received},  {"frame", std::move(frame)},
          {"locator", "longLat"},          {"longitude", position.longitude},
          {"latitude", position.latitude}, {"version", KESTRELIS_VERSION}};
}

std::string urlencode_form(const FormFields& fields) {
  std::string out;
  for (const auto& [name, value] : fields) {
    if (!out.empty()) out += '&';
    append_escaped(out, name);
    out += '=';
    append_escaped(out, value);
  }
  return out;
}

}  // namespace kestrelis

namespace kestrelis {

std::string share_url(std::string_view url, std::string_view form) {
  std::string out(url);
  out += url.find('?') == std::string_view::npos ? '?' : '&';
  out += form;
  return out;
}

}  // namespace kestrelis
