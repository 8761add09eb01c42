#pragma once
// Loopback ports and connections for the tools and the tests that play the
// TNC's peers.

#include <cstdint>

#include "platform/net.hpp"

namespace kestrelis {

// A loopback port that was free a moment ago; 0 when none could be had.
[[nodiscard]] uint16_t free_tcp_port();
[[nodiscard]] uint16_t free_udp_port();

}  // namespace kestrelis
