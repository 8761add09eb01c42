#include "packet/dispatch.hpp"

#include <algorithm>
#include <array>
#include <optional>

#include "packet/digipeater.hpp"
#include "wire/bytes.hpp"
#include "wire/csp.hpp"
#include "wire/kiss.hpp"

namespace kestrelis {

namespace {

// Ports whose packets are accepted and ignored without a word.
constexpr std::array<uint8_t, 14> quiet_ports = {1,  4,  6,  7,  10, 11, 19,
                                                 20, 21, 22, 23, 26, 27, 28};

}  // namespace

Dispatch dispatch_csp_packet(std::span<const uint8_t> payload, uint8_t destination_port,
                             uint8_t source) {
  Dispatch d;
  d.port = destination_port;
  d.payload_size = payload.size();
  if (source == ground_station_address) {
    d.action = PacketAction::self_generated;
    return d;
  }
  if (source != satellite_address) return d;

  switch (destination_port) {
    case telemetry_port:
      if (payload.size() < 2) {
        d.action = PacketAction::too_short;
        return d;
      }
      d.action = PacketAction::telemetry;
      d.telemetry = decode_telemetry(payload, split_telemetry_word(load_be16(payload.first<2>())));
      return d;
    case digipeater_port:
      d.action = PacketAction::digipeater_packet;
      d.gui_data.resize(payload.size() + 1);
      d.gui_data[0] = gui_text_kind;
      std::copy(payload.begin(), payload.end(), d.gui_data.begin() + 1);
      return d;
    case digipeater_message_port: {
      const std::optional<uint8_t> kind = digipeater_message_kind(payload);
      if (!kind) {
        d.action = PacketAction::too_short;
      } else if (*kind == digipeater_text_message) {
        d.action = PacketAction::digipeater_message;
        d.text = digipeater_message_text(payload);
      }
      return d;
    }
    default:
      if (std::find(quiet_ports.begin(), quiet_ports.end(), destination_port) ==
          quiet_ports.end()) {
        d.action = PacketAction::unknown_port;
      }
      return d;
  }
}

}  // namespace kestrelis
