#include "app/uplink.hpp"

#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/files.hpp"
#include "platform/net.hpp"
#include "text/format.hpp"
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

}  // namespace

std::vector<RefusalLine> refusal_lines(const Refusal& refusal) {
  const auto line = [](const std::string& text) { return RefusalLine{text + "\n", text}; };
  const auto unended = [](const std::string& text) { return RefusalLine{text, text}; };
  switch (refusal.kind) {
    case RefusalKind::unparsable:
      return {line("Error parsing input string"),
              line("Example: \"QQ0ABC>QQ0XYZ, Kestrelis, STORE=0 message\"")};
    case RefusalKind::command_too_long:
      return {line("Command string too long")};
    case RefusalKind::unknown_command: {
      // Shown safely: anyone who can reach the GUI port could send terminal controls.
      const std::span<const uint8_t> word(reinterpret_cast<const uint8_t*>(refusal.value.data()),
                                          refusal.value.size());
      return {unended("Unknown command \"" + printable_text(word) + "\"")};
    }
    case RefusalKind::message_too_long:
      return {
          unended("Message length exceeds limit of " + std::to_string(refusal.limit) + " bytes")};
    case RefusalKind::non_ascii_message:
      return {line("Non-ASCII characters in message")};
    case RefusalKind::improper_callsign:
      return {line("Improper callsign")};
    case RefusalKind::improper_satellite:
      return {line("Improper cubesat name")};
    case RefusalKind::relay_delay_too_long:
      return {line("Maximum relay delay is " + std::to_string(refusal.limit / 3600) + " hours")};
    case RefusalKind::packet_too_big:
      return {line("Maximum packet size is reached (" + std::to_string(refusal.size) + "/" +
                   std::to_string(refusal.limit) + " bytes)")};
  }
  return {};
}

void handle_gui_frame(Station& station, std::span<const uint8_t> data, GuiClient from) {
  const GuiRequest request = parse_gui_request(data, station.config.CallFrom);
  if (request.kind == RequestKind::refused) {
    // The operator looks at the GUI: a refused request is said there too, to
    // the client that sent it.
    for (const RefusalLine& line : refusal_lines(request.refusal)) {
      log_message(station.console, line.console);
      gui_text(station.gui, line.gui, from);
    }
  }
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
  switch (server.status.failed_at) {
    case SysStep::resolve:
      verbose_log(console, 5, "getaddrinfo failed with error: %d\n", server.status.error);
      return;
    case SysStep::socket:
      verbose_log(console, 5, "socket failed with error: %ld\n",
                  static_cast<long>(server.status.error));
      return;
    case SysStep::bind:
    case SysStep::listen:
      verbose_log(console, 5, "%s failed with error: %d\n",
                  server.status.failed_at == SysStep::bind ? "bind" : "listen",
                  server.status.error);
      // The TNC runs on without a GUI port; the operator must hear of it at any level.
      console_log(console, "GUI port %d unavailable (%s): no GUI can connect\n", config.KISS_Port,
                  error_text(server.status).c_str());
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
