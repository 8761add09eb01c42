#include "request/requests.hpp"

#include <algorithm>
#include <array>
#include <iterator>

#include "wire/csp.hpp"
#include "wire/frame.hpp"

namespace kestrelis {

namespace {

constexpr std::string_view command_prefix = "cmd:";
constexpr size_t command_word_limit = 19;
constexpr size_t ping_call_limit = 9;
constexpr size_t separator_window = 10;  // ">" must be among the first 10 characters
constexpr size_t delay_digits_limit = 20;
constexpr int64_t relay_delay_limit = 86400;  // seconds: below 24 hours
constexpr int64_t delay_saturation = INT32_MAX;
constexpr size_t message_limit = 180;
constexpr size_t packet_limit = 200;
constexpr size_t packet_overhead_bytes = 40;  // CSP header, CRC-32C, RS parity
constexpr size_t callsign_limit = 8;
constexpr size_t satellite_name_limit = 10;
constexpr std::array<std::string_view, 5> satellite_names = {"Kestrelis", "ORVANE", "kestrelis",
                                                             "KESTRELIS", "KESTRelis"};

std::vector<uint8_t> bytes_of(std::string_view text) { return {text.begin(), text.end()}; }

// The request text with every "%" and every backslash doubled: lines built
// from it show on the GUI as a printf format would show them.
std::string working_line(std::span<const uint8_t> data) {
  std::string line;
  for (uint8_t b : data) {
    if (b == 0) break;
    const char c = static_cast<char>(b);
    line.push_back(c);
    if (c == '%' || c == '\\') line.push_back(c);
  }
  return line;
}

// `line` as printf would print it taken as a format without arguments: each
// "%%" shows as "%". A lone "%" (the working line's pairs can be split where
// the message begins) shows as it is instead of reading a missing argument.
std::string as_shown(std::string_view line) {
  std::string shown;
  for (size_t i = 0; i < line.size(); ++i) {
    shown.push_back(line[i]);
    if (line[i] == '%' && i + 1 < line.size() && line[i + 1] == '%') ++i;
  }
  return shown;
}

size_t skip_spaces(std::string_view text, size_t i) {
  while (i < text.size() && text[i] == ' ') ++i;
  return i;
}

GuiRequest refused(Refusal why) {
  GuiRequest r;
  r.refusal = std::move(why);
  return r;
}

GuiRequest parse_command(std::string_view word, std::string_view call_from) {
  if (word.size() > command_word_limit) return refused({.kind = RefusalKind::command_too_long});
  GuiRequest r;
  r.kind = RequestKind::command;
  if (word == "list" || word == "count") {
    r.packet = UplinkPacket{{static_cast<uint8_t>(word == "list" ? 'L' : 'C')},
                            satellite_address,
                            digipeater_port,
                            digipeater_port};
  } else if (word == "ping") {
    if (call_from.size() <= ping_call_limit) {
      r.packet = UplinkPacket{bytes_of(call_from), ping_address, digipeater_port, ping_port};
    }
  } else {
    return refused({.kind = RefusalKind::unknown_command, .value = std::string(word)});
  }
  return r;
}

GuiRequest parse_message(const std::string& line) {
  const std::optional<RequestFields> fields = split_request_line(line);
  if (!fields) return refused({.kind = RefusalKind::unparsable});
  const RequestFields& f = *fields;
  if (f.message.size() > message_limit) {
    return refused({.kind = RefusalKind::message_too_long, .limit = message_limit});
  }
  if (std::any_of(f.message.begin(), f.message.end(),
                  [](char c) { return static_cast<uint8_t>(c) >= 127; })) {
    return refused({.kind = RefusalKind::non_ascii_message});
  }
  if (f.source.size() > callsign_limit || f.destination.size() > callsign_limit) {
    return refused({.kind = RefusalKind::improper_callsign});
  }
  if (f.satellite.size() > satellite_name_limit) {
    return refused({.kind = RefusalKind::improper_satellite});
  }
  if (f.source.empty() || f.destination.empty()) {
    return refused({.kind = RefusalKind::improper_callsign});
  }
  if (f.satellite.empty()) return refused({.kind = RefusalKind::improper_satellite});
  if (std::find(satellite_names.begin(), satellite_names.end(), f.satellite) ==
          satellite_names.end() ||
      f.keyword != "STORE") {
    return refused({.kind = RefusalKind::unparsable});
  }
  if (f.delay >= relay_delay_limit) {
    return refused({.kind = RefusalKind::relay_delay_too_long, .limit = relay_delay_limit});
  }
  if (line.size() + packet_overhead_bytes > packet_limit) {
    return refused({.kind = RefusalKind::packet_too_big,
                    .size = line.size() + packet_overhead_bytes,
                    .limit = packet_limit});
  }

  GuiRequest r;
  r.kind = RequestKind::message;
  r.satellite = f.satellite;
  r.destination_nocall = f.destination == "NOCALL";
  r.source_nocall = f.source == "NOCALL";
  if (r.source_nocall) return r;
  r.confirmation = as_shown("Transmitted: " + f.source + ">" + f.destination + ", " + f.satellite +
                            ", STORE=" + std::to_string(f.delay) + " " + f.message);
  // The working line travels with its terminating zero.
  std::vector<uint8_t> payload = bytes_of(line);
  payload.push_back(0);
  r.packet =
      UplinkPacket{std::move(payload), satellite_address, message_source_port, digipeater_port};
  return r;
}

}  // namespace

std::vector<uint8_t> uplink_frame(const UplinkPacket& packet) {
  CspHeader header;
  header.destination = packet.destination;
  header.source_port = packet.source_port;
  header.destination_port = packet.destination_port;
  return build_frame(csp_header_bytes(header), packet.payload);
}

std::optional<RequestFields> split_request_line(std::string_view view) {
  const size_t npos = std::string_view::npos;
  const size_t g = view.substr(0, separator_window).find('>');
  if (g == npos || g == 0) return std::nullopt;
  const size_t c1 = view.find(',', g);
  if (c1 == npos) return std::nullopt;
  const size_t c2 = view.find(',', c1 + 1);
  if (c2 == npos) return std::nullopt;
  const size_t e = view.find('=', c2 + 1);
  if (e == npos) return std::nullopt;

  RequestFields f;
  const size_t digits = skip_spaces(view, e + 1);
  size_t digits_end = digits;
  while (digits_end < view.size() && view[digits_end] >= '0' && view[digits_end] <= '9') {
    f.delay = std::min(f.delay * 10 + (view[digits_end] - '0'), delay_saturation);
    ++digits_end;
  }
  if (digits_end - digits > delay_digits_limit) return std::nullopt;

  // The character behind the digits is skipped whatever it is.
  f.message = view.substr(skip_spaces(view, std::min(digits_end + 1, view.size())));
  f.source = strip_spaces(view.substr(0, g));
  f.destination = strip_spaces(view.substr(g + 1, c1 - g - 1));
  f.satellite = strip_spaces(view.substr(c1 + 1, c2 - c1 - 1));
  f.keyword = strip_spaces(view.substr(c2 + 1, e - c2 - 1));
  return f;
}

std::string strip_spaces(std::string_view text) {
  std::string stripped;
  std::copy_if(text.begin(), text.end(), std::back_inserter(stripped),
               [](char c) { return c != ' '; });
  return stripped;
}

GuiRequest parse_gui_request(std::span<const uint8_t> data, std::string_view call_from) {
  const std::string line = working_line(data);
  if (line.starts_with(command_prefix)) {
    const std::string_view rest = std::string_view(line).substr(command_prefix.size());
    return parse_command(rest.substr(skip_spaces(rest, 0)), call_from);
  }
  return parse_message(line);
}

}  // namespace kestrelis
