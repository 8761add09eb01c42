#include "gui/gui_server.hpp"

#include <array>

#include "app/config.hpp"
#include "app/console_log.hpp"
#include "gui/gui_link.hpp"
#include "gui/kiss.hpp"
#include "gui/requests.hpp"
#include "platform/clock.hpp"

namespace {

constexpr size_t receive_size = 200;
constexpr int pause_after_failed_accept_ms = 1000;

}  // namespace

void serve_gui_client(Socket client) {
  const int fd = client.fd();
  gui_connection_opened(fd);
  verbose_log(1, "GUI connected.\n");
  KissDeframer deframer;
  std::array<uint8_t, receive_size> received{};
  // Once a send has given the connection up, nothing more the client sent is
  // acted on, not even requests already waiting in the socket.
  auto given_up = [fd] {
    const int error = gui_connection_failure(fd);
    if (error != 0) verbose_log(5, "recv failed with error: %d\n", error);
    return error != 0;
  };
  for (bool serving = true; serving;) {
    long n = stream_receive(fd, received);
    if (given_up()) break;
    if (n == 0) {
      verbose_log(1, "GUI disconnected\n");
      break;
    }
    if (n < 0) {
      verbose_log(5, "recv failed with error: %d\n", last_socket_error());
      break;
    }
    for (uint8_t b : std::span(received).first(static_cast<size_t>(n))) {
      auto frame = kiss_receive_byte(deframer, b);
      if (!frame) continue;
      handle_gui_request(*frame);
      if (given_up()) {
        serving = false;
        break;
      }
    }
  }
  // After a failed send the sender has already shut the connection down.
  if (gui_connection_closing(fd)) {
    if (int error = shutdown_send(fd); error != 0) {
      verbose_log(5, "shutdown failed with error: %d\n", error);
    }
  }
  client.close();
}

void gui_server_thread() {
  const TncConfig& config = tnc_config;
  NetResult server =
      tcp_listen(config.KISS_Address.c_str(), static_cast<uint16_t>(config.KISS_Port));
  switch (server.failed_at) {
    case NetStep::resolve:
      verbose_log(5, "getaddrinfo failed with error: %d\n", server.error);
      return;
    case NetStep::socket:
      verbose_log(5, "socket failed with error: %ld\n", static_cast<long>(server.error));
      return;
    case NetStep::bind:
      verbose_log(5, "bind failed with error: %d\n", server.error);
      return;
    default:
      break;
  }
  console_log("Waiting for GUI client on TCP 127.0.0.1:%d\n", config.KISS_Port);
  if (server.failed_at == NetStep::listen) {
    verbose_log(5, "listen failed with error: %d\n", server.error);
    return;
  }
  for (;;) {
    Socket client = tcp_accept(server.socket.fd());
    if (client.valid()) {
      // The next client is served at once: every connection that came and
      // went while this one was served waits in the backlog, and a pause for
      // each would keep a GUI out for as many seconds.
      serve_gui_client(std::move(client));
      continue;
    }
    verbose_log(1, "Could not communicate with GUI (Error %d)\n", last_socket_error());
    // An accept that fails (out of descriptors, say) fails again at once.
    sleep_ms(pause_after_failed_accept_ms);
  }
}
