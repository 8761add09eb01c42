#include "platform/kiss_io.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "platform/files.hpp"

extern char** environ;

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

ProgramRun run_program(const std::vector<std::string>& argv, std::string_view input) {
  ProgramRun run;
  ::signal(SIGPIPE, SIG_IGN);
  std::array<int, 2> pipe_fds{};
  if (::pipe2(pipe_fds.data(), O_CLOEXEC) != 0) {
    run.error = errno;
    return run;
  }
  std::vector<std::string> args = argv;
  std::vector<char*> argp;
  argp.reserve(args.size() + 1);
  for (std::string& a : args) argp.push_back(a.data());
  argp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[0], STDIN_FILENO);
  pid_t pid = -1;
  int error = ::posix_spawnp(&pid, argp[0], &actions, nullptr, argp.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipe_fds[0]);
  if (error != 0) {
    ::close(pipe_fds[1]);
    run.error = error;
    return run;
  }
  run.started = true;
  while (!input.empty()) {
    ssize_t n = ::write(pipe_fds[1], input.data(), input.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;  // the child stopped reading; its exit status tells why
    input.remove_prefix(static_cast<size_t>(n));
  }
  ::close(pipe_fds[1]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) run.exit_status = WEXITSTATUS(status);
  return run;
}
