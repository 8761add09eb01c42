#include "support/loopback.hpp"

#include <string>

#include "platform/clock.hpp"

namespace kestrelis {

uint16_t free_tcp_port() { return local_port(tcp_listen("127.0.0.1", 0).socket.fd()); }

uint16_t free_udp_port() { return local_port(udp_bind("127.0.0.1", 0, 0).socket.fd()); }

Socket connect_loopback(uint16_t port, int timeout_ms) {
  const int64_t deadline = monotonic_ms() + timeout_ms;
  const std::string service = std::to_string(port);
  for (;;) {
    NetResult r = tcp_connect("127.0.0.1", service.c_str(), 1000);
    if (r.status.ok()) return std::move(r.socket);
    if (monotonic_ms() >= deadline) return {};
    sleep_ms(20);
  }
}

}  // namespace kestrelis
