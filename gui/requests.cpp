#include "gui/requests.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>

#include "app/config.hpp"
#include "app/console_log.hpp"
#include "gui/gui_link.hpp"
#include "packet/csp.hpp"
#include "radio/transmit.hpp"

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

constexpr uint8_t ping_port = 1;
constexpr uint8_t message_source_port = 30;

std::span<const uint8_t> bytes_of(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

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

void handle_command(std::string_view word) {
  if (word.size() > command_word_limit) {
    console_log("Command string too long\n");
    return;
  }
  if (word == "list" || word == "count") {
    const uint8_t payload[] = {static_cast<uint8_t>(word == "list" ? 'L' : 'C')};
    transmit_packet(payload, satellite_address, digipeater_port, digipeater_port);
    return;
  }
  if (word == "ping") {
    const std::string& call = tnc_config.CallFrom;
    if (call.size() <= ping_call_limit) {
      transmit_packet(bytes_of(call), ping_address, digipeater_port, ping_port);
    }
    return;
  }
  console_log("Unknown command \"%s\"", std::string(word).c_str());
}

void parse_failure() {
  console_log("Error parsing input string\n");
  console_log("Example: \"QQ0ABC>QQ0XYZ, Kestrelis, STORE=0 message\"\n");
}

void handle_uplink(const std::string& line) {
  const std::string_view view = line;
  const size_t npos = std::string_view::npos;
  const size_t g = view.substr(0, separator_window).find('>');
  if (g == npos || g == 0) return parse_failure();
  const size_t c1 = view.find(',', g);
  if (c1 == npos) return parse_failure();
  const size_t c2 = view.find(',', c1 + 1);
  if (c2 == npos) return parse_failure();
  const size_t e = view.find('=', c2 + 1);
  if (e == npos) return parse_failure();

  const size_t digits = skip_spaces(view, e + 1);
  size_t digits_end = digits;
  int64_t delay = 0;
  while (digits_end < view.size() && view[digits_end] >= '0' && view[digits_end] <= '9') {
    delay = std::min(delay * 10 + (view[digits_end] - '0'), delay_saturation);
    ++digits_end;
  }
  if (digits_end - digits > delay_digits_limit) return parse_failure();

  // The character behind the digits is skipped whatever it is.
  const size_t message_begin = skip_spaces(view, std::min(digits_end + 1, view.size()));
  const std::string_view message = view.substr(message_begin);
  if (message.size() > message_limit) {
    console_log("Message length exceeds limit of %d bytes", static_cast<int>(message_limit));
    return;
  }
  if (std::any_of(message.begin(), message.end(),
                  [](char c) { return static_cast<uint8_t>(c) >= 127; })) {
    console_log("Non-ASCII characters in message\n");
    return;
  }

  const std::string source = strip_spaces(view.substr(0, g));
  const std::string destination = strip_spaces(view.substr(g + 1, c1 - g - 1));
  const std::string satellite = strip_spaces(view.substr(c1 + 1, c2 - c1 - 1));
  const std::string keyword = strip_spaces(view.substr(c2 + 1, e - c2 - 1));
  if (source.size() > callsign_limit || destination.size() > callsign_limit) {
    console_log("Improper callsign\n");
    return;
  }
  if (satellite.size() > satellite_name_limit) {
    console_log("Improper cubesat name\n");
    return;
  }
  if (source.empty() || destination.empty()) {
    console_log("Improper callsign\n");
    return;
  }
  if (satellite.empty()) {
    console_log("Improper cubesat name\n");
    return;
  }
  if (std::find(satellite_names.begin(), satellite_names.end(), satellite) ==
          satellite_names.end() ||
      keyword != "STORE") {
    return parse_failure();
  }
  if (delay >= relay_delay_limit) {
    console_log("Maximum relay delay is 24 hours\n");
    return;
  }
  if (line.size() + packet_overhead_bytes > packet_limit) {
    console_log("Maximum packet size is reached (%d/%d bytes)\n",
                static_cast<int>(line.size() + packet_overhead_bytes),
                static_cast<int>(packet_limit));
    return;
  }

  console_log("Transmission to %s\n", satellite.c_str());
  if (destination == "NOCALL") gui_text("Check the destination call sign in the field below.");
  if (source == "NOCALL") {
    gui_text("Call signs error. Check your call sign in config.ini.");
    console_log("Call signs error\n");
    return;
  }
  gui_text(as_shown("Transmitted: " + source + ">" + destination + ", " + satellite +
                    ", STORE=" + std::to_string(delay) + " " + std::string(message)));
  // The working line travels with its terminating zero.
  transmit_packet(std::span(reinterpret_cast<const uint8_t*>(line.c_str()), line.size() + 1),
                  satellite_address, message_source_port, digipeater_port);
}

}  // namespace

std::string strip_spaces(std::string_view text) {
  std::string stripped;
  std::copy_if(text.begin(), text.end(), std::back_inserter(stripped),
               [](char c) { return c != ' '; });
  return stripped;
}

void handle_gui_request(std::span<const uint8_t> data) {
  const std::string line = working_line(data);
  if (line.starts_with(command_prefix)) {
    const std::string_view rest = std::string_view(line).substr(command_prefix.size());
    handle_command(rest.substr(skip_spaces(rest, 0)));
  } else {
    handle_uplink(line);
  }
}
