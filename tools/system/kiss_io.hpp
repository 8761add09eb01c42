#pragma once
// What the terminal KISS client needs of the system besides sockets, time and
// files: standard input beside a socket, and standard error.

#include <cstdint>
#include <span>
#include <string_view>

namespace kestrelis {

// The descriptor of standard input.
[[nodiscard]] int standard_input_fd();

// Writes `text` to standard error at once, in full.
void error_write(std::string_view text);

struct ReadyPair {
  bool first = false;
  bool second = false;
};

// Waits up to `timeout_ms` until `first_fd` or `second_fd` has data, end of
// input or an error to report; a negative descriptor is not watched.
[[nodiscard]] ReadyPair wait_either_readable(int first_fd, int second_fd, int timeout_ms);

// Reads what is there, up to buffer.size() bytes: the count, 0 at end of
// input, -1 on error. Resumes after signals.
[[nodiscard]] long read_some(int fd, std::span<uint8_t> buffer);

}  // namespace kestrelis
