#include "platform/net.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <memory>
#include <vector>

#include "platform/clock.hpp"

namespace kestrelis {

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = other.release();
  }
  return *this;
}

Socket::~Socket() { close(); }

int Socket::release() {
  int fd = fd_;
  fd_ = -1;
  return fd;
}

void Socket::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void close_socket(int fd) {
  if (fd >= 0) ::close(fd);
}

int last_socket_error() { return errno; }

namespace {

struct AddrInfoDeleter {
  void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};
using AddrInfoList = std::unique_ptr<addrinfo, AddrInfoDeleter>;

sockaddr_in ipv4_sockaddr(uint32_t address, uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(address);
  return sa;
}

// Connects with a bounded wait; leaves the socket blocking again afterwards.
int connect_bounded(int fd, const sockaddr* address, socklen_t length, int timeout_ms) {
  int flags = ::fcntl(fd, F_GETFL, 0);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return errno;
  int error = 0;
  if (::connect(fd, address, length) != 0) {
    error = errno;
    if (error == EINPROGRESS) {
      pollfd p{fd, POLLOUT, 0};
      int ready;
      do {
        ready = ::poll(&p, 1, timeout_ms);
      } while (ready < 0 && errno == EINTR);
      if (ready == 0) {
        error = ETIMEDOUT;
      } else if (ready < 0) {
        error = errno;
      } else {
        socklen_t size = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
      }
    }
  }
  if (error == 0 && ::fcntl(fd, F_SETFL, flags) < 0) error = errno;
  return error;
}

NetResult failure(SysStep step, int error) { return {.socket = Socket(), .status = {step, error}}; }

// A socket of `type` bound to IPv4 `address`:`port`, SO_REUSEADDR for TCP.
NetResult bound_ipv4(const char* address, uint16_t port, int type) {
  uint32_t host = INADDR_ANY;
  if (address != nullptr && *address != '\0') {
    auto parsed = parse_ipv4(address);
    if (!parsed) return failure(SysStep::resolve, EAI_NONAME);
    host = *parsed;
  }
  Socket s(::socket(AF_INET, type | SOCK_CLOEXEC, 0));
  if (!s.valid()) return failure(SysStep::socket, errno);
  if (type == SOCK_STREAM) {
    int on = 1;
    ::setsockopt(s.fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  }
  sockaddr_in sa = ipv4_sockaddr(host, port);
  if (::bind(s.fd(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    return failure(SysStep::bind, errno);
  }
  NetResult result;
  result.socket = std::move(s);
  return result;
}

}  // namespace

std::optional<uint32_t> parse_ipv4(const char* text) {
  in_addr parsed{};
  if (text == nullptr || ::inet_pton(AF_INET, text, &parsed) != 1) return std::nullopt;
  return ntohl(parsed.s_addr);
}

NetResult tcp_connect(const char* host, const char* service, int timeout_ms) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* raw = nullptr;
  int code = ::getaddrinfo(host, service, &hints, &raw);
  if (code != 0) return failure(SysStep::resolve, code);
  AddrInfoList list(raw);
  int last_error = ECONNREFUSED;
  for (const addrinfo* a = list.get(); a != nullptr; a = a->ai_next) {
    Socket s(::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol));
    if (!s.valid()) return failure(SysStep::socket, errno);
    last_error = connect_bounded(s.fd(), a->ai_addr, a->ai_addrlen, timeout_ms);
    if (last_error == 0) {
      NetResult result;
      result.socket = std::move(s);
      return result;
    }
  }
  return failure(SysStep::connect, last_error);
}

NetResult tcp_listen(const char* address, uint16_t port) {
  NetResult result = bound_ipv4(address, port, SOCK_STREAM);
  if (!result.status.ok()) return result;
  if (::listen(result.socket.fd(), INT_MAX) != 0) return failure(SysStep::listen, errno);
  return result;
}

Socket tcp_accept(int listener_fd) {
  int fd;
  do {
    fd = ::accept4(listener_fd, nullptr, nullptr, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return Socket(fd);
}

SysResult keep_alive(int fd, int idle_s, int interval_s, int probes) {
  const int on = 1;
  const bool set = ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0 &&
                   ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle_s, sizeof idle_s) == 0 &&
                   ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval_s, sizeof interval_s) ==
                       0 &&
                   ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes) == 0;
  return sys_result(SysStep::option, set ? 0 : errno);
}

NetResult udp_bind(const char* address, uint16_t port, int receive_buffer_bytes) {
  NetResult result = bound_ipv4(address, port, SOCK_DGRAM);
  if (result.status.ok() && receive_buffer_bytes > 0) {
    // The kernel caps the request at its own limit; a smaller buffer still works.
    ::setsockopt(result.socket.fd(), SOL_SOCKET, SO_RCVBUF, &receive_buffer_bytes,
                 sizeof receive_buffer_bytes);
  }
  return result;
}

Socket udp_open() { return Socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)); }

uint16_t local_port(int fd) {
  sockaddr_storage sa{};
  socklen_t length = sizeof sa;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length) != 0) return 0;
  if (sa.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in*>(&sa)->sin_port);
  if (sa.ss_family == AF_INET6) {
    return ntohs(reinterpret_cast<const sockaddr_in6*>(&sa)->sin6_port);
  }
  return 0;
}

long stream_receive(int fd, std::span<uint8_t> buffer) {
  ssize_t n;
  do {
    n = ::recv(fd, buffer.data(), buffer.size(), 0);
  } while (n < 0 && errno == EINTR);
  return static_cast<long>(n);
}

long datagram_receive(int fd, std::span<uint8_t> buffer) {
  ssize_t n;
  do {
    n = ::recv(fd, buffer.data(), buffer.size(), MSG_TRUNC);
  } while (n < 0 && errno == EINTR);
  return static_cast<long>(n);
}

SysResult send_all(int fd, std::span<const uint8_t> bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return {SysStep::send, errno == EWOULDBLOCK ? EAGAIN : errno};
    }
    bytes = bytes.subspan(static_cast<size_t>(n));
  }
  return {};
}

SysResult send_all_within(int fd, std::span<const uint8_t> bytes, int timeout_ms) {
  const int64_t deadline = monotonic_ms() + timeout_ms;
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) {
      bytes = bytes.subspan(static_cast<size_t>(n));
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return {SysStep::send, errno};
    const int64_t left = deadline - monotonic_ms();
    if (left <= 0) return {SysStep::send, EAGAIN};
    // An error or hang-up wakes the poll too; the next send reports it.
    pollfd p{fd, POLLOUT, 0};
    ::poll(&p, 1, static_cast<int>(left));
  }
  return {};
}

SysResult datagram_send(int fd, const Ipv4Endpoint& to, std::span<const uint8_t> bytes) {
  sockaddr_in sa = ipv4_sockaddr(to.address, to.port);
  ssize_t n;
  do {
    n = ::sendto(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
  } while (n < 0 && errno == EINTR);
  return sys_result(SysStep::send, n < 0 ? errno : 0);
}

namespace {
SysResult set_timeout(int fd, int option, int ms) {
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  const bool set = ::setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv) == 0;
  return sys_result(SysStep::option, set ? 0 : errno);
}
}  // namespace

SysResult set_send_timeout(int fd, int ms) { return set_timeout(fd, SO_SNDTIMEO, ms); }
SysResult set_receive_timeout(int fd, int ms) { return set_timeout(fd, SO_RCVTIMEO, ms); }

SysResult reset_on_close(int fd) {
  const linger option{1, 0};
  const bool set = ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &option, sizeof option) == 0;
  return sys_result(SysStep::option, set ? 0 : errno);
}

int receive_buffer_bytes(int fd) {
  int bytes = 0;
  socklen_t size = sizeof bytes;
  if (::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, &size) != 0) return 0;
  return bytes;
}

SysResult shutdown_send(int fd) {
  return sys_result(SysStep::shutdown, ::shutdown(fd, SHUT_WR) == 0 ? 0 : errno);
}
SysResult shutdown_both(int fd) {
  return sys_result(SysStep::shutdown, ::shutdown(fd, SHUT_RDWR) == 0 ? 0 : errno);
}

bool wait_readable(int fd, int timeout_ms) {
  pollfd p{fd, POLLIN, 0};
  int ready;
  do {
    ready = ::poll(&p, 1, timeout_ms);
  } while (ready < 0 && errno == EINTR);
  return ready > 0;
}

SysResult set_nonblocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL, 0);
  const bool set = flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
  return sys_result(SysStep::option, set ? 0 : errno);
}

bool would_block(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

long send_some(int fd, std::span<const uint8_t> bytes) {
  ssize_t n;
  do {
    n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && would_block(errno)) return 0;
  return static_cast<long>(n);
}

int wait_sockets(std::span<SocketWait> sockets, int timeout_ms) {
  std::vector<pollfd> polled(sockets.size());
  for (size_t i = 0; i < sockets.size(); ++i) {
    const SocketWait& s = sockets[i];
    const short events =
        static_cast<short>((s.want_read ? POLLIN : 0) | (s.want_write ? POLLOUT : 0));
    polled[i] = pollfd{s.fd, events, 0};
  }
  const int ready = ::poll(polled.data(), polled.size(), timeout_ms);
  if (ready < 0) return errno == EINTR ? 0 : -1;
  for (size_t i = 0; i < sockets.size(); ++i) {
    const short r = polled[i].revents;
    // poll reports an error or hang-up whatever was asked: the call that
    // follows is the one that learns which.
    const bool broken = (r & (POLLERR | POLLHUP | POLLNVAL)) != 0;
    sockets[i].readable = sockets[i].want_read && ((r & POLLIN) != 0 || broken);
    sockets[i].writable = sockets[i].want_write && ((r & POLLOUT) != 0 || broken);
  }
  return ready;
}

Waker open_waker() {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0) return {};
  return Waker{Socket(fds[0]), Socket(fds[1])};
}

void wake_waker(int wake_fd) {
  const uint8_t byte = 1;
  ssize_t n;
  do {
    n = ::send(wake_fd, &byte, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
}

void drain_waker(int watch_fd) {
  uint8_t buffer[64];
  for (;;) {
    const ssize_t n = ::recv(watch_fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n > 0) continue;
    if (n < 0 && errno == EINTR) continue;
    return;
  }
}

}  // namespace kestrelis
