#include "support/process.hpp"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

int64_t now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

unsigned short free_port(int type) {
  int fd = ::socket(AF_INET, type, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
  socklen_t length = sizeof sa;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &length);
  ::close(fd);
  return ntohs(sa.sin_port);
}

}  // namespace

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
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (out_fd_ >= 0) ::close(out_fd_);
}

void ChildProcess::drain(int timeout_ms) {
  pollfd p{out_fd_, POLLIN, 0};
  if (::poll(&p, 1, timeout_ms) <= 0) return;
  char buffer[4096];
  for (;;) {
    ssize_t n = ::read(out_fd_, buffer, sizeof buffer);
    if (n <= 0) break;
    output_.append(buffer, static_cast<size_t>(n));
  }
}

bool ChildProcess::wait_for_output(std::string_view text, int timeout_ms) {
  int64_t deadline = now_ms() + timeout_ms;
  for (;;) {
    if (output_.find(text) != std::string::npos) return true;
    int64_t left = deadline - now_ms();
    if (left <= 0) return false;
    drain(static_cast<int>(left < 50 ? left : 50));
  }
}

const std::string& ChildProcess::output() {
  drain(0);
  return output_;
}

int ChildProcess::wait_exit(int timeout_ms) {
  if (status_ >= 0) return status_;
  int64_t deadline = now_ms() + timeout_ms;
  for (;;) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      status_ = status;
      drain(0);
      return status_;
    }
    if (now_ms() >= deadline) return -1;
    drain(20);
  }
}

int ChildProcess::stop(int signal, int timeout_ms) {
  if (status_ < 0) ::kill(pid_, signal);
  return wait_exit(timeout_ms);
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kestrelis-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

unsigned short free_tcp_port() { return free_port(SOCK_STREAM); }
unsigned short free_udp_port() { return free_port(SOCK_DGRAM); }

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}
