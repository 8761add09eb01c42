// winsock2.h before windows.h, and both before the headers that build on them.
#include <winsock2.h>
#include <windows.h>

#include <mstcpip.h>
#include <mswsock.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.hpp"
#include "platform/console.hpp"
#include "platform/net.hpp"

// Windows 10 1709 on; older mingw headers lack the name.
#ifndef TCP_KEEPCNT
#define TCP_KEEPCNT 16
#endif

namespace kestrelis {

// Windows Sockets 2.2, started once for the whole process before the first
// socket is made. Errors keep their Windows Sockets codes (WSAGetLastError),
// which is what the messages print; only the results the callers decide on
// are the errno values the header names (EAGAIN from the sends). A SOCKET is
// a handle the system keeps below 2^31, so it fits the int descriptors of the
// interface; INVALID_SOCKET becomes -1.

namespace {

// 0 once started, else the code WSAStartup returned.
int winsock_status() {
  static const int status = [] {
    WSADATA data{};
    const int code = ::WSAStartup(MAKEWORD(2, 2), &data);
    if (code != 0) {
      char line[64];
      std::snprintf(line, sizeof line, "WSAStartup failed with error: %d\n", code);
      console_write(line);
    }
    return code;
  }();
  return status;
}

SOCKET handle(int fd) { return fd < 0 ? INVALID_SOCKET : static_cast<SOCKET>(fd); }

int descriptor(SOCKET s) { return s == INVALID_SOCKET ? -1 : static_cast<int>(s); }

// A new socket of the process's own (not inherited by programs it starts);
// -1 with the error in WSAGetLastError on failure.
int new_socket(int family, int type, int protocol) {
  if (const int status = winsock_status(); status != 0) {
    ::WSASetLastError(status);
    return -1;
  }
  const SOCKET s = ::WSASocketW(family, type, protocol, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) return -1;
  if (type == SOCK_DGRAM) {
    // Without this, a datagram sent to a closed port makes the next receive
    // on the socket fail with WSAECONNRESET; on Linux it is not reported.
    BOOL report = FALSE;
    DWORD returned = 0;
    ::WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr,
               nullptr);
  }
  return descriptor(s);
}

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

int set_blocking(int fd, bool blocking) {
  u_long nonblocking = blocking ? 0 : 1;
  return ::ioctlsocket(handle(fd), FIONBIO, &nonblocking) == 0 ? 0 : ::WSAGetLastError();
}

// Connects with a bounded wait; leaves the socket blocking again afterwards.
// select() rather than WSAPoll: older WSAPoll misses a refused connection.
int connect_bounded(int fd, const sockaddr* address, int length, int timeout_ms) {
  if (const int error = set_blocking(fd, false); error != 0) return error;
  int error = 0;
  if (::connect(handle(fd), address, length) != 0) {
    error = ::WSAGetLastError();
    if (error == WSAEWOULDBLOCK) {
      fd_set writable;
      fd_set failed;
      FD_ZERO(&writable);
      FD_ZERO(&failed);
      FD_SET(handle(fd), &writable);
      FD_SET(handle(fd), &failed);
      timeval limit{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
      const int ready = ::select(0, nullptr, &writable, &failed, &limit);
      if (ready == 0) {
        error = WSAETIMEDOUT;
      } else if (ready < 0) {
        error = ::WSAGetLastError();
      } else {
        int size = sizeof error;
        error = 0;
        if (::getsockopt(handle(fd), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                         &size) != 0) {
          error = ::WSAGetLastError();
        } else if (error == 0 && FD_ISSET(handle(fd), &failed)) {
          error = WSAECONNREFUSED;
        }
      }
    }
  }
  if (error == 0) error = set_blocking(fd, true);
  return error;
}

NetResult failure(SysStep step, int error) { return {.socket = Socket(), .status = {step, error}}; }

// A socket of `type` bound to IPv4 `address`:`port`. A TCP listener takes its
// port for itself alone: Windows's SO_REUSEADDR would let another program
// bind the same port and take its connections.
NetResult bound_ipv4(const char* address, uint16_t port, int type) {
  uint32_t host = INADDR_ANY;
  if (address != nullptr && *address != '\0') {
    auto parsed = parse_ipv4(address);
    if (!parsed) return failure(SysStep::resolve, WSAHOST_NOT_FOUND);
    host = *parsed;
  }
  Socket s(new_socket(AF_INET, type, 0));
  if (!s.valid()) return failure(SysStep::socket, ::WSAGetLastError());
  if (type == SOCK_STREAM) {
    BOOL on = TRUE;
    ::setsockopt(handle(s.fd()), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<char*>(&on),
                 sizeof on);
  }
  sockaddr_in sa = ipv4_sockaddr(host, port);
  if (::bind(handle(s.fd()), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    return failure(SysStep::bind, ::WSAGetLastError());
  }
  NetResult result;
  result.socket = std::move(s);
  return result;
}

// A failed send as the header names it: a send time-out is EAGAIN.
SysResult send_error() {
  const int error = ::WSAGetLastError();
  return {SysStep::send, error == WSAETIMEDOUT || error == WSAEWOULDBLOCK ? EAGAIN : error};
}

int send_chunk(int fd, std::span<const uint8_t> bytes) {
  const int size = static_cast<int>(std::min<size_t>(bytes.size(), INT_MAX));
  return ::send(handle(fd), reinterpret_cast<const char*>(bytes.data()), size, 0);
}

}  // namespace

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
  if (fd_ >= 0) ::closesocket(handle(fd_));
  fd_ = -1;
}

void close_socket(int fd) {
  if (fd >= 0) ::closesocket(handle(fd));
}

int last_socket_error() { return ::WSAGetLastError(); }

std::optional<uint32_t> parse_ipv4(const char* text) {
  in_addr parsed{};
  if (text == nullptr || ::inet_pton(AF_INET, text, &parsed) != 1) return std::nullopt;
  return ntohl(parsed.s_addr);
}

NetResult tcp_connect(const char* host, const char* service, int timeout_ms) {
  if (const int status = winsock_status(); status != 0) return failure(SysStep::socket, status);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* raw = nullptr;
  int code = ::getaddrinfo(host, service, &hints, &raw);
  if (code != 0) return failure(SysStep::resolve, code);
  AddrInfoList list(raw);
  int last_error = WSAECONNREFUSED;
  for (const addrinfo* a = list.get(); a != nullptr; a = a->ai_next) {
    Socket s(new_socket(a->ai_family, a->ai_socktype, a->ai_protocol));
    if (!s.valid()) return failure(SysStep::socket, ::WSAGetLastError());
    last_error = connect_bounded(s.fd(), a->ai_addr, static_cast<int>(a->ai_addrlen), timeout_ms);
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
  if (::listen(handle(result.socket.fd()), SOMAXCONN) != 0) {
    return failure(SysStep::listen, ::WSAGetLastError());
  }
  return result;
}

Socket tcp_accept(int listener_fd) {
  const SOCKET s = ::accept(handle(listener_fd), nullptr, nullptr);
  if (s != INVALID_SOCKET)
    ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  return Socket(descriptor(s));
}

SysResult keep_alive(int fd, int idle_s, int interval_s, int probes) {
  // Windows takes idle time and interval in milliseconds in one call; the
  // number of probes is its own (10) unless the system takes TCP_KEEPCNT.
  tcp_keepalive values{};
  values.onoff = 1;
  values.keepalivetime = static_cast<ULONG>(idle_s) * 1000;
  values.keepaliveinterval = static_cast<ULONG>(interval_s) * 1000;
  DWORD returned = 0;
  if (::WSAIoctl(handle(fd), SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned,
                 nullptr, nullptr) != 0) {
    return {SysStep::option, ::WSAGetLastError()};
  }
  DWORD count = static_cast<DWORD>(probes);
  ::setsockopt(handle(fd), IPPROTO_TCP, TCP_KEEPCNT, reinterpret_cast<char*>(&count), sizeof count);
  return {};
}

NetResult udp_bind(const char* address, uint16_t port, int receive_buffer_bytes) {
  NetResult result = bound_ipv4(address, port, SOCK_DGRAM);
  if (result.status.ok() && receive_buffer_bytes > 0) {
    // The system may cap the request; a smaller buffer still works.
    ::setsockopt(handle(result.socket.fd()), SOL_SOCKET, SO_RCVBUF,
                 reinterpret_cast<const char*>(&receive_buffer_bytes), sizeof receive_buffer_bytes);
  }
  return result;
}

Socket udp_open() { return Socket(new_socket(AF_INET, SOCK_DGRAM, 0)); }

uint16_t local_port(int fd) {
  sockaddr_storage sa{};
  int length = sizeof sa;
  if (::getsockname(handle(fd), reinterpret_cast<sockaddr*>(&sa), &length) != 0) return 0;
  if (sa.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in*>(&sa)->sin_port);
  if (sa.ss_family == AF_INET6) {
    return ntohs(reinterpret_cast<const sockaddr_in6*>(&sa)->sin6_port);
  }
  return 0;
}

long stream_receive(int fd, std::span<uint8_t> buffer) {
  const int size = static_cast<int>(std::min<size_t>(buffer.size(), INT_MAX));
  return ::recv(handle(fd), reinterpret_cast<char*>(buffer.data()), size, 0);
}

long datagram_receive(int fd, std::span<uint8_t> buffer) {
  const int size = static_cast<int>(std::min<size_t>(buffer.size(), INT_MAX));
  const int n = ::recv(handle(fd), reinterpret_cast<char*>(buffer.data()), size, 0);
  // Windows fills the buffer and reports a cut datagram as an error, without
  // its length: one byte more than the buffer says that it was cut.
  if (n < 0 && ::WSAGetLastError() == WSAEMSGSIZE) return static_cast<long>(size) + 1;
  return n;
}

SysResult send_all(int fd, std::span<const uint8_t> bytes) {
  while (!bytes.empty()) {
    const int n = send_chunk(fd, bytes);
    if (n < 0) return send_error();
    bytes = bytes.subspan(static_cast<size_t>(n));
  }
  return {};
}

SysResult send_all_within(int fd, std::span<const uint8_t> bytes, int timeout_ms) {
  // A socket shared between threads cannot be made non-blocking for one send
  // (another thread's receive would stop waiting too), and a send time-out is
  // not kept by every implementation (wine's is not). So the wait for room
  // comes first, bounded, and then a blocking send of a piece small enough to
  // go into the room there is.
  constexpr size_t piece = 4096;
  const int64_t deadline = monotonic_ms() + timeout_ms;
  while (!bytes.empty()) {
    const int64_t left = deadline - monotonic_ms();
    if (left <= 0) return {SysStep::send, EAGAIN};
    WSAPOLLFD p{handle(fd), POLLWRNORM, 0};
    const int ready = ::WSAPoll(&p, 1, static_cast<int>(left));
    if (ready == 0) return {SysStep::send, EAGAIN};
    if (ready < 0) return {SysStep::send, ::WSAGetLastError()};
    const int n = send_chunk(fd, bytes.first(std::min(bytes.size(), piece)));
    if (n < 0) return send_error();
    bytes = bytes.subspan(static_cast<size_t>(n));
  }
  return {};
}

SysResult datagram_send(int fd, const Ipv4Endpoint& to, std::span<const uint8_t> bytes) {
  sockaddr_in sa = ipv4_sockaddr(to.address, to.port);
  const int n = ::sendto(handle(fd), reinterpret_cast<const char*>(bytes.data()),
                         static_cast<int>(bytes.size()), 0, reinterpret_cast<const sockaddr*>(&sa),
                         sizeof sa);
  return sys_result(SysStep::send, n < 0 ? ::WSAGetLastError() : 0);
}

namespace {
SysResult set_timeout(int fd, int option, int ms) {
  // Windows takes the time-out as a DWORD of milliseconds, 0 for none.
  const DWORD limit = static_cast<DWORD>(std::max(ms, 0));
  const bool set = ::setsockopt(handle(fd), SOL_SOCKET, option,
                                reinterpret_cast<const char*>(&limit), sizeof limit) == 0;
  return sys_result(SysStep::option, set ? 0 : ::WSAGetLastError());
}
}  // namespace

SysResult set_send_timeout(int fd, int ms) { return set_timeout(fd, SO_SNDTIMEO, ms); }
SysResult set_receive_timeout(int fd, int ms) { return set_timeout(fd, SO_RCVTIMEO, ms); }

SysResult reset_on_close(int fd) {
  const linger option{1, 0};
  const bool set = ::setsockopt(handle(fd), SOL_SOCKET, SO_LINGER,
                                reinterpret_cast<const char*>(&option), sizeof option) == 0;
  return sys_result(SysStep::option, set ? 0 : ::WSAGetLastError());
}

int receive_buffer_bytes(int fd) {
  int bytes = 0;
  int size = sizeof bytes;
  if (::getsockopt(handle(fd), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&bytes), &size) !=
      0) {
    return 0;
  }
  return bytes;
}

SysResult shutdown_send(int fd) {
  return sys_result(SysStep::shutdown,
                    ::shutdown(handle(fd), SD_SEND) == 0 ? 0 : ::WSAGetLastError());
}
SysResult shutdown_both(int fd) {
  return sys_result(SysStep::shutdown,
                    ::shutdown(handle(fd), SD_BOTH) == 0 ? 0 : ::WSAGetLastError());
}

bool wait_readable(int fd, int timeout_ms) {
  WSAPOLLFD p{handle(fd), POLLRDNORM, 0};
  return ::WSAPoll(&p, 1, timeout_ms) > 0;
}

SysResult set_nonblocking(int fd) { return sys_result(SysStep::option, set_blocking(fd, false)); }

bool would_block(int error) { return error == WSAEWOULDBLOCK || error == EAGAIN; }

long send_some(int fd, std::span<const uint8_t> bytes) {
  const int n = send_chunk(fd, bytes);
  if (n < 0 && ::WSAGetLastError() == WSAEWOULDBLOCK) return 0;
  return n;
}

int wait_sockets(std::span<SocketWait> sockets, int timeout_ms) {
  // WSAPoll takes no negative descriptor on every version: those are left out.
  std::vector<WSAPOLLFD> polled;
  std::vector<size_t> index;
  polled.reserve(sockets.size());
  for (size_t i = 0; i < sockets.size(); ++i) {
    SocketWait& s = sockets[i];
    s.readable = false;
    s.writable = false;
    if (s.fd < 0) continue;
    const short events =
        static_cast<short>((s.want_read ? POLLRDNORM : 0) | (s.want_write ? POLLWRNORM : 0));
    polled.push_back(WSAPOLLFD{handle(s.fd), events, 0});
    index.push_back(i);
  }
  if (polled.empty()) {
    sleep_ms(timeout_ms < 0 ? INT_MAX : timeout_ms);
    return 0;
  }
  const int ready = ::WSAPoll(polled.data(), static_cast<ULONG>(polled.size()), timeout_ms);
  if (ready < 0) return -1;
  for (size_t k = 0; k < polled.size(); ++k) {
    const short r = polled[k].revents;
    SocketWait& s = sockets[index[k]];
    // An error or hang-up is reported whatever was asked: the call that
    // follows is the one that learns which.
    const bool broken = (r & (POLLERR | POLLHUP | POLLNVAL)) != 0;
    s.readable = s.want_read && ((r & POLLRDNORM) != 0 || broken);
    s.writable = s.want_write && ((r & POLLWRNORM) != 0 || broken);
  }
  return ready;
}

Waker open_waker() {
  // Windows has no socket pair: two TCP sockets joined over loopback. The
  // accepted connection must be the one made here, not another program's
  // that reached the listener first.
  NetResult listener = tcp_listen("127.0.0.1", 0);
  if (!listener.status.ok()) return {};
  NetResult wake =
      tcp_connect("127.0.0.1", std::to_string(local_port(listener.socket.fd())).c_str(), 2000);
  if (!wake.status.ok()) return {};
  sockaddr_in mine{};
  int mine_length = sizeof mine;
  ::getsockname(handle(wake.socket.fd()), reinterpret_cast<sockaddr*>(&mine), &mine_length);
  for (int attempt = 0; attempt < 8; ++attempt) {
    if (!wait_readable(listener.socket.fd(), 2000)) return {};
    sockaddr_in peer{};
    int peer_length = sizeof peer;
    Socket watch(descriptor(
        ::accept(handle(listener.socket.fd()), reinterpret_cast<sockaddr*>(&peer), &peer_length)));
    if (!watch.valid()) return {};
    if (peer.sin_port != mine.sin_port || peer.sin_addr.s_addr != mine.sin_addr.s_addr) continue;
    BOOL on = TRUE;
    ::setsockopt(handle(wake.socket.fd()), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char*>(&on),
                 sizeof on);
    if (!set_nonblocking(watch.fd()).ok() || !set_nonblocking(wake.socket.fd()).ok()) return {};
    return Waker{std::move(watch), std::move(wake.socket)};
  }
  return {};
}

void wake_waker(int wake_fd) {
  const char byte = 1;
  ::send(handle(wake_fd), &byte, 1, 0);
}

void drain_waker(int watch_fd) {
  char buffer[64];
  while (::recv(handle(watch_fd), buffer, sizeof buffer, 0) > 0) {
  }
}

}  // namespace kestrelis
