#pragma once
// Loopback ports and connections for the tools and the tests that play the
// TNC's peers.

#include <cstdint>

#include "platform/net.hpp"

namespace kestrelis {

// A loopback port that was free a moment ago; 0 when none could be had.
[[nodiscard]] uint16_t free_tcp_port();
[[nodiscard]] uint16_t free_udp_port();

// A TCP connection to 127.0.0.1:`port`, tried again every 20 ms until
// `timeout_ms` has passed; invalid when none was made.
[[nodiscard]] Socket connect_loopback(uint16_t port, int timeout_ms);

}  // namespace kestrelis
