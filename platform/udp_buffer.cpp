#include "platform/udp_buffer.hpp"

#include <sys/socket.h>

int receive_buffer_bytes(int fd) {
  int bytes = 0;
  socklen_t size = sizeof bytes;
  if (::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, &size) != 0) return 0;
  return bytes;
}
