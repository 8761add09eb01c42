#include "system/load_sockets.hpp"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <fstream>
#include <sstream>
#include <string>

namespace kestrelis {

void close_with_reset(Socket& socket) {
  if (!socket.valid()) return;
  (void)reset_on_close(socket.fd());
  socket.close();
}

void set_receive_buffer(int fd, int bytes) {
  ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

bool wait_peer_closed(int fd, int timeout_ms) {
  pollfd p{fd, POLLRDHUP, 0};
  int ready;
  do {
    ready = ::poll(&p, 1, timeout_ms);
  } while (ready < 0 && errno == EINTR);
  return ready > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

namespace {
sockaddr_in loopback(uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return sa;
}
}  // namespace

Socket tcp_listen_loopback(uint16_t port, int backlog) {
  Socket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!s.valid()) return s;
  int on = 1;
  ::setsockopt(s.fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  const sockaddr_in sa = loopback(port);
  if (::bind(s.fd(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 ||
      ::listen(s.fd(), backlog) != 0) {
    s.close();
  }
  return s;
}

Socket tcp_connect_started(uint16_t port) {
  Socket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!s.valid()) return s;
  const sockaddr_in sa = loopback(port);
  if (::connect(s.fd(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 &&
      errno != EINPROGRESS) {
    s.close();
  }
  return s;
}

std::optional<UdpPortStats> parse_udp_port_stats(std::string_view table, uint16_t port) {
  // "sl local_address rem_address st tx_queue:rx_queue tr tm->when retrnsmt
  //  uid timeout inode ref pointer drops", addresses as hex "0100007F:CF0A".
  std::istringstream lines{std::string(table)};
  std::string line;
  std::getline(lines, line);  // the heading
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string slot, local, remote, state, queues;
    if (!(fields >> slot >> local >> remote >> state >> queues)) continue;
    const size_t colon = local.find(':');
    unsigned local_port = 0;
    if (colon == std::string::npos ||
        std::from_chars(local.data() + colon + 1, local.data() + local.size(), local_port, 16).ec !=
            std::errc{} ||
        local_port != port) {
      continue;
    }
    UdpPortStats stats;
    const size_t split = queues.find(':');
    if (split == std::string::npos) return std::nullopt;
    std::from_chars(queues.data() + split + 1, queues.data() + queues.size(), stats.queued_bytes,
                    16);
    std::string skip;
    for (int i = 0; i < 7; ++i) fields >> skip;  // tr ... pointer
    fields >> stats.drops;
    return stats;
  }
  return std::nullopt;
}

std::optional<UdpPortStats> udp_port_stats(uint16_t port) {
  std::ifstream in("/proc/net/udp");
  std::stringstream content;
  content << in.rdbuf();
  return parse_udp_port_stats(content.str(), port);
}

}  // namespace kestrelis
