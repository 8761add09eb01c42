#include "support/process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "platform/clock.hpp"
#include "platform/files.hpp"
#include "platform/kiss_io.hpp"
#include "platform/net.hpp"

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<EnvChange>& env) {
  std::vector<std::string> env_strings = environment_with(env);
  std::vector<char*> envp;
  for (auto& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = argv;
  std::vector<char*> argp;
  for (auto& s : args) argp.push_back(s.data());
  argp.push_back(nullptr);

  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(pipe_fds[1], STDOUT_FILENO);
    ::execve(argp[0], argp.data(), envp.data());
    ::_exit(127);
  }
  ::close(pipe_fds[1]);
  out_fd_ = pipe_fds[0];
  ::fcntl(out_fd_, F_SETFL, O_NONBLOCK);
}

ChildProcess::~ChildProcess() {
  if (status_ < 0 && pid_ > 0) {
    kill_child(pid_);
    (void)wait_child(pid_, 60'000);
  }
  if (out_fd_ >= 0) ::close(out_fd_);
}

void ChildProcess::drain(int timeout_ms) {
  if (!wait_readable(out_fd_, timeout_ms)) return;
  uint8_t buffer[4096];
  for (long n; (n = read_some(out_fd_, buffer)) > 0;) {
    output_.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
  }
}

bool ChildProcess::wait_for_output(std::string_view text, int timeout_ms) {
  const int64_t deadline = monotonic_ms() + timeout_ms;
  while (output_.find(text) == std::string::npos) {
    const int64_t left = deadline - monotonic_ms();
    if (left <= 0) return false;
    drain(static_cast<int>(std::min<int64_t>(left, 50)));
  }
  return true;
}

const std::string& ChildProcess::output() {
  drain(0);
  return output_;
}

int ChildProcess::wait_exit(int timeout_ms) {
  const int64_t deadline = monotonic_ms() + timeout_ms;
  do {
    status_ = status_ >= 0 ? status_ : wait_child(pid_, 20).value_or(-1);
    drain(0);
  } while (status_ < 0 && monotonic_ms() < deadline);
  return status_;
}

int ChildProcess::stop(int signal, int timeout_ms) {
  if (status_ < 0) ::kill(pid_, signal);
  return wait_exit(timeout_ms);
}

TempDir::TempDir() : path_(make_temp_directory("kestrelis-test-").value()) {}

TempDir::~TempDir() {
  std::error_code ignored;  // a test may have taken the owner's rights away
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  remove_tree(path_);
}

unsigned short free_tcp_port() { return local_port(tcp_listen("127.0.0.1", 0).socket.fd()); }
unsigned short free_udp_port() { return local_port(udp_bind("127.0.0.1", 0, 0).socket.fd()); }

std::string read_file(const std::string& path) { return read_whole_file(path).value_or(""); }
