#include "support/process.hpp"

#include <algorithm>
#include <filesystem>

#include "platform/clock.hpp"
#include "platform/files.hpp"
#include "platform/net.hpp"
#include "system/kiss_io.hpp"

namespace kestrelis {

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::vector<ChildEnv>& env) {
  ChildStreams streams;
  streams.output_pipe = true;
  child_ = spawn_child(argv, env, streams);
}

ChildProcess::~ChildProcess() {
  if (status_ < 0 && child_.pid > 0) {
    (void)kill_child(child_.pid);
    (void)wait_child(child_.pid, 60'000);
  }
  close_descriptor(child_.output_fd);
}

void ChildProcess::drain(int timeout_ms) {
  if (child_.output_fd < 0 || !wait_readable(child_.output_fd, timeout_ms)) return;
  uint8_t buffer[4096];
  for (long n; (n = read_some(child_.output_fd, buffer)) > 0;) {
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
  if (child_.pid < 0) return -1;
  const int64_t deadline = monotonic_ms() + timeout_ms;
  do {
    status_ = status_ >= 0 ? status_ : wait_child(child_.pid, 20).value_or(-1);
    drain(0);
  } while (status_ < 0 && monotonic_ms() < deadline);
  return status_;
}

int ChildProcess::stop(int signal, int timeout_ms) {
  if (status_ < 0) (void)signal_child(child_.pid, signal);
  return wait_exit(timeout_ms);
}

TempDir::TempDir() : path_(make_temp_directory("kestrelis-test-").value()) {}

TempDir::~TempDir() {
  std::error_code ignored;  // a test may have taken the owner's rights away
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  remove_tree(path_);
}

std::string read_file(const std::string& path) { return read_whole_file(path).value_or(""); }

size_t occurrences(std::string_view text, std::string_view word) {
  size_t n = 0;
  for (size_t at = text.find(word); at != text.npos; at = text.find(word, at + 1)) ++n;
  return n;
}

std::vector<std::string> lines_of(std::string_view text) {
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = text.find('\n', at)) != text.npos; at = end + 1) {
    lines.emplace_back(text.substr(at, end - at));
  }
  return lines;
}

}  // namespace kestrelis
