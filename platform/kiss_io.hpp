#pragma once
// What the terminal KISS client needs of the system besides sockets, time and
// files: standard input beside a socket, and running gnuplot as a child process.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

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

struct ProgramRun {
  bool started = false;  // false: the program could not be run (`error` says why)
  int error = 0;         // errno of the failed start, ENOENT when it is not on PATH
  int exit_status = -1;  // its exit status; -1 when it ended by a signal
};

// Runs `argv[0]` (searched on PATH) with `input` on its standard input and
// this process's standard output and error, and waits for it to end.
// Ignores SIGPIPE from then on, so that a child that stops reading early is
// reported by its exit status rather than ending this process.
[[nodiscard]] ProgramRun run_program(const std::vector<std::string>& argv, std::string_view input);
