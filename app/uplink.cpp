#include "app/uplink.hpp"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/files.hpp"
#include "platform/net.hpp"
#include "request/requests.hpp"
#include "wire/frame.hpp"

namespace kestrelis {

namespace {

void transmit(Station& s, const UplinkPacket& packet) {
  const std::vector<uint8_t> frame = uplink_frame(packet);
  if (frame.empty()) {
    console_log(s.console, "Payload of %zu bytes exceeds %zu bytes: not transmitted\n",
                packet.payload.size(), max_payload_size);
    return;
  }
  (void)transmit_frame(s.transmitter, frame);
}

// The operator looks at the GUI: a refused request is said there too, in the
// console line's words, to the client that sent it.
void tell_operator(Station& s, std::string_view line, GuiClient to) {
  log_message(s.console, line);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  gui_text(s.gui, line, to);
}

}  // namespace

void handle_gui_frame(Station& station, std::span<const uint8_t> data, GuiClient from) {
  const GuiRequest request = parse_gui_request(data, station.config.CallFrom);
  for (const std::string& line : request.refusal) tell_operator(station, line, from);
  if (request.kind == RequestKind::message) {
    console_log(station.console, "Transmission to %s\n", request.satellite.c_str());
    if (request.destination_nocall) {
      gui_text(station.gui, "Check the destination call sign in the field below.", from);
    }
    if (request.source_nocall) {
      gui_text(station.gui, "Call signs error. Check your call sign in config.ini.", from);
      console_log(station.console, "Call signs error\n");
      return;
    }
    gui_text(station.gui, request.confirmation, from);
  }
  if (request.packet) transmit(station, *request.packet);
}

void uplink_thread(Station& station) {
  while (std::optional<ClientFrame> request = station.gui.next_request()) {
    handle_gui_frame(station, request->data, request->from);
    station.gui.request_done();
  }
}

void gui_server_thread(Station& station) {
  const Console& console = station.console;
  const TncConfig& config = station.config;
  NetResult server = tcp_listen(config.KISS_Address.c_str(), config.KISS_Port);
  switch (server.failed_at) {
    case NetStep::resolve:
      verbose_log(console, 5, "getaddrinfo failed with error: %d\n", server.error);
      return;
    case NetStep::socket:
      verbose_log(console, 5, "socket failed with error: %ld\n", static_cast<long>(server.error));
      return;
    case NetStep::bind:
    case NetStep::listen:
      verbose_log(console, 5, "%s failed with error: %d\n",
                  server.failed_at == NetStep::bind ? "bind" : "listen", server.error);
      // The TNC runs on without a GUI port; the operator must hear of it at any level.
      console_log(console, "GUI port %d unavailable (%s): no GUI can connect\n", config.KISS_Port,
                  error_text(server.error).c_str());
      return;
    default:
      break;
  }
  const bool all_interfaces = config.KISS_Address.empty();
  console_log(console, "Waiting for GUI client on TCP %s:%d\n",
              all_interfaces ? "127.0.0.1" : config.KISS_Address.c_str(), config.KISS_Port);
  if (all_interfaces) {
    console_log(console,
                "GUI port %d is open on all interfaces: anyone who can reach it can transmit "
                "(KISS_Address = 127.0.0.1 closes it)\n",
                config.KISS_Port);
  }
  // Requests are transmitted on a thread of their own, so that the clients
  // are served while the transmitter is keyed.
  try {
    std::thread(uplink_thread, std::ref(station)).detach();
  } catch (const std::system_error& error) {
    console_log(console, "Could not start the %s thread: %s\n", "transmit",
                error.code().message().c_str());
  }
  station.gui.serve(server.socket.fd());
}

}  // namespace kestrelis
