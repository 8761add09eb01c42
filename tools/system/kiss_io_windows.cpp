#include <windows.h>
#include <winsock2.h>

#include <array>
#include <thread>

#include "platform/files.hpp"
#include "platform/net.hpp"
#include "system/kiss_io.hpp"

namespace kestrelis {

// Windows waits on sockets and on a console or pipe with different calls, so
// standard input is brought to a socket: a thread reads it and sends what it
// reads over a loopback connection, whose other end is the "descriptor" of
// standard input here, and closes the connection at the end of input.

namespace {

int input_socket() {
  static const int fd = [] {
    NetResult listener = tcp_listen("127.0.0.1", 0);
    if (!listener.status.ok()) return -1;
    const std::string port = std::to_string(local_port(listener.socket.fd()));
    NetResult writer = tcp_connect("127.0.0.1", port.c_str(), 2000);
    if (!writer.status.ok()) return -1;
    Socket reader = tcp_accept(listener.socket.fd());
    if (!reader.valid()) return -1;
    std::thread([out = std::move(writer.socket)]() mutable {
      const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
      std::array<uint8_t, 4096> buffer{};
      DWORD n = 0;
      while (::ReadFile(in, buffer.data(), static_cast<DWORD>(buffer.size()), &n, nullptr) &&
             n > 0) {
        if (!send_all(out.fd(), std::span(buffer.data(), n)).ok()) break;
      }
      out.close();  // the reader sees the end of input
    }).detach();
    return reader.release();
  }();
  return fd;
}

}  // namespace

int standard_input_fd() { return input_socket(); }

void error_write(std::string_view text) {
  const HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  while (!text.empty()) {
    DWORD written = 0;
    if (!::WriteFile(err, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written == 0) {
      return;
    }
    text.remove_prefix(written);
  }
}

ReadyPair wait_either_readable(int first_fd, int second_fd, int timeout_ms) {
  std::array<WSAPOLLFD, 2> p{};
  std::array<int, 2> which{};
  ULONG count = 0;
  for (const int fd : {first_fd, second_fd}) {
    if (fd < 0) continue;
    p[count] = WSAPOLLFD{static_cast<SOCKET>(fd), POLLRDNORM, 0};
    which[count++] = fd;
  }
  ReadyPair ready;
  if (count == 0) {
    ::Sleep(static_cast<DWORD>(timeout_ms < 0 ? INFINITE : timeout_ms));
    return ready;
  }
  if (::WSAPoll(p.data(), count, timeout_ms) > 0) {
    for (ULONG i = 0; i < count; ++i) {
      if (p[i].revents == 0) continue;
      if (which[i] == first_fd) ready.first = true;
      if (which[i] == second_fd) ready.second = true;
    }
  }
  return ready;
}

long read_some(int fd, std::span<uint8_t> buffer) { return stream_receive(fd, buffer); }

}  // namespace kestrelis
