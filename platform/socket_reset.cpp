#include "platform/socket_reset.hpp"

#include <sys/socket.h>

#include <cerrno>

int reset_on_close(int fd) {
  const linger option{1, 0};
  return ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &option, sizeof option) == 0 ? 0 : errno;
}
