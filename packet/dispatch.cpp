#include "packet/dispatch.hpp"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "app/console_log.hpp"
#include "gui/gui_link.hpp"
#include "packet/csp.hpp"
#include "packet/digipeater.hpp"
#include "radio/bytes.hpp"
#include "telemetry/telemetry.hpp"

namespace {

// Ports whose packets are accepted and ignored without a word.
constexpr std::array<uint8_t, 14> quiet_ports = {1,  4,  6,  7,  10, 11, 19,
                                                 20, 21, 22, 23, 26, 27, 28};

void report_short(uint8_t port, std::span<const uint8_t> payload) {
  console_log("Dropped port %u packet of %zu bytes: too short\r\n", unsigned{port}, payload.size());
}

void forward_digipeater_packet(std::span<const uint8_t> payload) {
  console_log("Digipeater packet\r\n");
  std::vector<uint8_t> data;
  data.reserve(payload.size() + 1);
  data.push_back(0x50);
  data.insert(data.end(), payload.begin(), payload.end());
  send_to_gui(data);
}

void show_digipeater_message(std::span<const uint8_t> payload) {
  std::optional<uint8_t> kind = digipeater_message_kind(payload);
  if (!kind) {
    report_short(digipeater_message_port, payload);
    return;
  }
  if (*kind != digipeater_text_message) return;
  console_log("Digipeater message \r\n");
  // The text is the satellite's, so it goes as it is: a "%" in it stays a "%".
  gui_text("Received: " + std::string(digipeater_message_text(payload)));
}

}  // namespace

void dispatch_csp_packet(std::span<const uint8_t> payload, uint8_t destination_port,
                         uint8_t source) {
  if (source == ground_station_address) {
    console_log("Received self-generated packet\n");
    return;
  }
  if (source != satellite_address) return;

  switch (destination_port) {
    case telemetry_port:
      if (payload.size() < 2) {
        report_short(destination_port, payload);
        return;
      }
      decode_telemetry(payload, split_telemetry_word(load_be16(payload.first<2>())));
      return;
    case digipeater_port:
      forward_digipeater_packet(payload);
      return;
    case digipeater_message_port:
      show_digipeater_message(payload);
      return;
    default:
      if (std::find(quiet_ports.begin(), quiet_ports.end(), destination_port) ==
          quiet_ports.end()) {
        console_log("ERROR: Unknown CSP Port %u\r\n", unsigned{destination_port});
      }
  }
}
