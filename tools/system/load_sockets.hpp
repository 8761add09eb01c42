#pragma once
// Socket calls the load tool needs beyond platform/net.hpp: the ways a GUI
// can leave abruptly, a listener that never answers, and the kernel's view of
// a UDP port.

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/net.hpp"

namespace kestrelis {

// Closes `socket` with SO_LINGER 0, so that the peer gets a reset, not a FIN.
void close_with_reset(Socket& socket);

// Asks for a receive buffer of `bytes` (the kernel may round it up).
void set_receive_buffer(int fd, int bytes);

// Waits up to `timeout_ms` for the peer to end its sending direction or reset
// the connection, without reading anything. True when it did.
[[nodiscard]] bool wait_peer_closed(int fd, int timeout_ms);

// A TCP listener on 127.0.0.1:`port` with the given accept backlog; invalid on failure.
[[nodiscard]] Socket tcp_listen_loopback(uint16_t port, int backlog);

// A socket in connect to 127.0.0.1:`port` that does not wait for the answer.
[[nodiscard]] Socket tcp_connect_started(uint16_t port);

// The kernel's receive queue (bytes, bookkeeping included) and drop count
// of the IPv4 UDP socket bound to local `port`.
struct UdpPortStats {
  uint64_t queued_bytes = 0;
  uint64_t drops = 0;
};

// Reads /proc/net/udp; none when no socket is bound to `port`.
[[nodiscard]] std::optional<UdpPortStats> udp_port_stats(uint16_t port);

// The same from the text of /proc/net/udp.
[[nodiscard]] std::optional<UdpPortStats> parse_udp_port_stats(std::string_view table,
                                                               uint16_t port);

}  // namespace kestrelis
