#include "app/uplink.hpp"

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.hpp"
#include "platform/files.hpp"
#include "request/requests.hpp"
#include "wire/frame.hpp"
#include "wire/kiss.hpp"

namespace kestrelis {

namespace {

constexpr size_t receive_size = 200;
constexpr int pause_after_failed_accept_ms = 1000;
// A GUI that vanished is noticed after 10 + 3 * 5 s without an answer.
constexpr int gui_keepalive_idle_s = 10;
constexpr int gui_keepalive_interval_s = 5;
constexpr int gui_keepalive_probes = 3;

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
// console line's words.
void tell_operator(Station& s, std::string_view line) {
  log_message(s.console, line);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  gui_text(s.gui, line);
}

}  // namespace

void handle_gui_frame(Station& station, std::span<const uint8_t> data) {
  const GuiRequest request = parse_gui_request(data, station.config.CallFrom);
  for (const std::string& line : request.refusal) tell_operator(station, line);
  if (request.kind == RequestKind::message) {
    console_log(station.console, "Transmission to %s\n", request.satellite.c_str());
    if (request.destination_nocall) {
      gui_text(station.gui, "Check the destination call sign in the field below.");
    }
    if (request.source_nocall) {
      gui_text(station.gui, "Call signs error. Check your call sign in config.ini.");
      console_log(station.console, "Call signs error\n");
      return;
    }
    gui_text(station.gui, request.confirmation);
  }
  if (request.packet) transmit(station, *request.packet);
}

void serve_gui_client(Station& station, Socket client) {
  const Console& console = station.console;
  const int fd = client.fd();
  // One client is served at a time: one that vanished without closing must
  // not hold the GUI port until the next send to it fails.
  if (const int error = keep_alive(fd, gui_keepalive_idle_s, gui_keepalive_interval_s,
                                   gui_keepalive_probes);
      error != 0) {
    verbose_log(console, 5, "Cannot watch the GUI connection: %s\n", error_text(error).c_str());
  }
  gui_connection_opened(station.gui, fd);
  verbose_log(console, 1, "GUI connected.\n");
  KissDeframer deframer;
  std::array<uint8_t, receive_size> received{};
  // Once a send has given the connection up, nothing more the client sent is
  // acted on, not even requests already waiting in the socket.
  auto given_up = [&] {
    const int error = gui_connection_failure(station.gui, fd);
    if (error != 0) verbose_log(console, 5, "recv failed with error: %d\n", error);
    return error != 0;
  };
  for (bool serving = true; serving;) {
    const long n = stream_receive(fd, received);
    if (given_up()) break;
    if (n == 0) {
      verbose_log(console, 1, "GUI disconnected\n");
      break;
    }
    if (n < 0) {
      verbose_log(console, 5, "recv failed with error: %d\n", last_socket_error());
      break;
    }
    for (uint8_t b : std::span(received).first(static_cast<size_t>(n))) {
      const KissStep step = kiss_receive_byte(deframer, b);
      switch (step.event) {
        case KissStep::Event::none:
          continue;
        case KissStep::Event::frame_opened:
          verbose_log(console, 4, "New KISS packet detected\n");
          continue;
        case KissStep::Event::overflowed:
          tell_operator(station, format_text("KISS frame from GUI longer than %zu bytes dropped\n",
                                             kiss_frame_capacity));
          continue;
        case KissStep::Event::frame_closed:
          verbose_log(console, 4, "Finished reading KISS packet\n");
          break;
      }
      if (!step.frame) continue;
      handle_gui_frame(station, *step.frame);
      if (given_up()) {
        serving = false;
        break;
      }
    }
  }
  // After a failed send the sender has already shut the connection down.
  if (gui_connection_closing(station.gui, fd)) {
    if (int error = shutdown_send(fd); error != 0) {
      verbose_log(console, 5, "shutdown failed with error: %d\n", error);
    }
  }
  client.close();
}

void gui_server_thread(Station& station) {
  const Console& console = station.console;
  const TncConfig& config = station.config;
  NetResult server =
      tcp_listen(config.KISS_Address.c_str(), static_cast<uint16_t>(config.KISS_Port));
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
  for (;;) {
    Socket client = tcp_accept(server.socket.fd());
    if (client.valid()) {
      // The next client is served at once: every connection that came and
      // went while this one was served waits in the backlog, and a pause for
      // each would keep a GUI out for as many seconds.
      serve_gui_client(station, std::move(client));
      continue;
    }
    verbose_log(console, 1, "Could not communicate with GUI (Error %d)\n", last_socket_error());
    // An accept that fails (out of descriptors, say) fails again at once.
    sleep_ms(pause_after_failed_accept_ms);
  }
}

}  // namespace kestrelis
