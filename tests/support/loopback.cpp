#include "support/loopback.hpp"

namespace kestrelis {

uint16_t free_tcp_port() { return local_port(tcp_listen("127.0.0.1", 0).socket.fd()); }

uint16_t free_udp_port() { return local_port(udp_bind("127.0.0.1", 0, 0).socket.fd()); }

}  // namespace kestrelis
