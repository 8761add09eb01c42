#pragma once
// IPv4/IPv6 sockets sized to the tasks of the TNC: a bounded TCP connect, a
// TCP listener, a bound UDP receiver, whole-buffer sends. Functions that take
// a plain descriptor accept one shared between threads (the GUI connection).
// No call raises SIGPIPE.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "platform/sys_result.hpp"

namespace kestrelis {

// An owned socket descriptor, closed when the owner goes out of scope.
class Socket {
 public:
  Socket() = default;
  explicit Socket(int fd) : fd_(fd) {}
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  Socket(Socket&& other) noexcept : fd_(other.release()) {}
  Socket& operator=(Socket&& other) noexcept;
  ~Socket();

  [[nodiscard]] int fd() const { return fd_; }
  [[nodiscard]] bool valid() const { return fd_ >= 0; }
  // Gives up ownership without closing; the socket becomes invalid.
  int release();
  void close();

 private:
  int fd_ = -1;
};

// Closes a descriptor that is not held by a Socket.
void close_socket(int fd);

// An IPv4 address and port, both in host byte order.
struct Ipv4Endpoint {
  uint32_t address = 0;
  uint16_t port = 0;
};

// Parses a dotted IPv4 address ("127.0.0.1"); none when it does not parse.
[[nodiscard]] std::optional<uint32_t> parse_ipv4(const char* text);

// The error number of the last failed socket call on this thread.
int last_socket_error();

// A socket that was set up, or the step (resolve, socket, connect, bind,
// listen) at which that failed.
struct NetResult {
  Socket socket;  // valid when status.ok()
  SysResult status;
};

// Resolves `host` and `service` (a port number or service name) for a TCP
// stream of any family and tries the addresses in order, each connect bounded
// by `timeout_ms`. A socket() failure stops at once (socket); when no address
// connects, it fails at connect with the last connect error (ETIMEDOUT when
// the time ran out).
[[nodiscard]] NetResult tcp_connect(const char* host, const char* service, int timeout_ms);

// A TCP listener on IPv4 `address` (all local addresses when empty) and `port`,
// with the largest backlog the system allows and SO_REUSEADDR set.
[[nodiscard]] NetResult tcp_listen(const char* address, uint16_t port);

// Waits for and accepts one connection; invalid on failure (see last_socket_error).
[[nodiscard]] Socket tcp_accept(int listener_fd);

// Has the system probe the peer of `fd` after `idle_s` seconds without
// traffic, every `interval_s` seconds, `probes` times, then fail the
// connection: a peer that vanished without closing (a machine switched off, a
// network gone) no longer holds the connection for good (option).
[[nodiscard]] SysResult keep_alive(int fd, int idle_s, int interval_s, int probes);

// A UDP socket bound to IPv4 `address` (all local addresses when empty) and
// `port`, asking the kernel for `receive_buffer_bytes` of buffer (0: default).
[[nodiscard]] NetResult udp_bind(const char* address, uint16_t port, int receive_buffer_bytes);

// An unbound IPv4 UDP socket; invalid on failure (see last_socket_error).
[[nodiscard]] Socket udp_open();

// The local port a socket is bound to (0 when unknown).
[[nodiscard]] uint16_t local_port(int fd);

// Receives from a stream into `buffer`: the count, 0 when the peer has closed,
// -1 on error or time-out (see last_socket_error).
[[nodiscard]] long stream_receive(int fd, std::span<uint8_t> buffer);

// Receives one datagram into `buffer`. Returns the datagram's full length,
// which exceeds buffer.size() when it was cut, or -1 on error.
[[nodiscard]] long datagram_receive(int fd, std::span<uint8_t> buffer);

// Sends all of `bytes` on a stream, continuing short writes. Fails at send
// with the error number (EAGAIN when the send time-out expired).
[[nodiscard]] SysResult send_all(int fd, std::span<const uint8_t> bytes);

// Sends all of `bytes` on a stream within `timeout_ms` altogether, continuing
// short writes. Fails at send with the error number, or with EAGAIN when the
// time ran out with bytes still unsent.
[[nodiscard]] SysResult send_all_within(int fd, std::span<const uint8_t> bytes, int timeout_ms);

// Sends one datagram to `to` (send).
[[nodiscard]] SysResult datagram_send(int fd, const Ipv4Endpoint& to,
                                      std::span<const uint8_t> bytes);

// Bounds every later blocking send or receive on `fd` to `ms` milliseconds
// (option).
[[nodiscard]] SysResult set_send_timeout(int fd, int ms);
[[nodiscard]] SysResult set_receive_timeout(int fd, int ms);

// Makes the coming close of `fd` reset the connection (SO_LINGER 0): data not
// yet sent is discarded and the peer learns at once that the connection is
// gone (option).
[[nodiscard]] SysResult reset_on_close(int fd);

// The receive buffer of socket `fd` in bytes, as the kernel reports it (Linux
// counts its bookkeeping too, twice the size asked for); 0 when unknown.
[[nodiscard]] int receive_buffer_bytes(int fd);

// Ends the sending direction of a stream (shutdown).
[[nodiscard]] SysResult shutdown_send(int fd);

// Ends both directions of a stream so that a thread blocked on it wakes up,
// without releasing the descriptor (shutdown).
[[nodiscard]] SysResult shutdown_both(int fd);

// Waits up to `timeout_ms` until `fd` is readable. True when it is.
[[nodiscard]] bool wait_readable(int fd, int timeout_ms);

// --- Several connections served by one thread ---

// Makes every later call on `fd` return at once instead of waiting (the
// listener and the clients of an event loop) (option).
[[nodiscard]] SysResult set_nonblocking(int fd);

// True when `error` (a last_socket_error()) only says that a non-blocking
// call found nothing to do now: no data, no room, no connection waiting.
[[nodiscard]] bool would_block(int error);

// Sends what the non-blocking stream socket `fd` takes now, without waiting.
// Returns the count (0 when its buffer is full), or -1 on error (see
// last_socket_error). Never raises SIGPIPE.
[[nodiscard]] long send_some(int fd, std::span<const uint8_t> bytes);

// One socket of a wait_sockets call: what to wait for, and what was found.
struct SocketWait {
  int fd = -1;              // ignored when negative
  bool want_read = false;   // data, a connection to accept, or the peer's close
  bool want_write = false;  // room to send
  bool readable = false;    // set by wait_sockets; also on an error or hang-up, so
                            // that the next receive or accept reports it
  bool writable = false;    // set by wait_sockets; also on an error
};

// Waits up to `timeout_ms` (-1: without limit) until one of `sockets` is
// ready as it asks, and sets each entry's readable and writable. Returns the
// number of ready entries, 0 when the time ran out or a signal came, -1 on
// error (see last_socket_error). Sockets only: a Windows build waits with
// WSAPoll, which takes nothing else.
[[nodiscard]] int wait_sockets(std::span<SocketWait> sockets, int timeout_ms);

// Two connected sockets by which any thread wakes a thread waiting in
// wait_sockets: a byte sent with wake_waker on `wake` makes `watch` readable
// until drain_waker has read it. Both are non-blocking; both invalid when the
// pair could not be made (see last_socket_error).
struct Waker {
  Socket watch;
  Socket wake;
};
[[nodiscard]] Waker open_waker();

// Sends one byte on a waker's `wake` socket. Never waits: when the pair
// already holds bytes the waiting thread has not read, one more is not needed.
void wake_waker(int wake_fd);

// Reads and discards every byte waiting on a waker's `watch` socket.
void drain_waker(int watch_fd);

}  // namespace kestrelis
