#include "platform/bounded_send.hpp"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "platform/clock.hpp"

int send_all_within(int fd, std::span<const uint8_t> bytes, int timeout_ms) {
  const int64_t deadline = monotonic_ms() + timeout_ms;
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) {
      bytes = bytes.subspan(static_cast<size_t>(n));
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return errno;
    const int64_t left = deadline - monotonic_ms();
    if (left <= 0) return EAGAIN;
    // An error or hang-up wakes the poll too; the next send reports it.
    pollfd p{fd, POLLOUT, 0};
    ::poll(&p, 1, static_cast<int>(left));
  }
  return 0;
}
