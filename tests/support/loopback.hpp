#pragma once
// Loopback ports and connections for the tools and the tests that play the
// TNC's peers.

#include <cstdint>

#include "platform/net.hpp"

namespace kestrelis {

// A loopback port that was free a moment ago; 0 when none could be had.
[[nodiscard]] inline uint16_t free_tcp_port() {
  return local_port(tcp_listen("127.0.0.1", 0).socket.fd());
}
[[nodiscard]] inline uint16_t free_udp_port() {
  return local_port(udp_bind("127.0.0.1", 0, 0).socket.fd());
}

}  // namespace kestrelis
