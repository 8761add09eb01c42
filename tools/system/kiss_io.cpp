#include "system/kiss_io.hpp"

#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "platform/files.hpp"

namespace kestrelis {

int standard_input_fd() { return STDIN_FILENO; }

void error_write(std::string_view text) { (void)write_all(STDERR_FILENO, text); }

ReadyPair wait_either_readable(int first_fd, int second_fd, int timeout_ms) {
  std::array<pollfd, 2> p{pollfd{first_fd, POLLIN, 0}, pollfd{second_fd, POLLIN, 0}};
  ReadyPair ready;
  // poll() skips entries with a negative descriptor.
  if (::poll(p.data(), p.size(), timeout_ms) > 0) {
    ready.first = first_fd >= 0 && p[0].revents != 0;
    ready.second = second_fd >= 0 && p[1].revents != 0;
  }
  return ready;
}

long read_some(int fd, std::span<uint8_t> buffer) {
  for (;;) {
    ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n >= 0 || errno != EINTR) return static_cast<long>(n);
  }
}

}  // namespace kestrelis
