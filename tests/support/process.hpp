#pragma once
// Test support: a child process with its standard output captured, and a
// temporary folder. Both clean up after themselves.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/loopback.hpp"
#include "system/child_process.hpp"

namespace kestrelis {

class ChildProcess {
 public:
  // Starts `argv` with the current environment changed by `env`, standard
  // input from /dev/null, standard output on a pipe, standard error inherited.
  ChildProcess(const std::vector<std::string>& argv, const std::vector<ChildEnv>& env);
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();  // kills the child if it still runs

  int pid() const { return child_.pid; }

  // Waits until the output so far contains `text` or `timeout_ms` passes.
  bool wait_for_output(std::string_view text, int timeout_ms);

  // Everything the child has written so far.
  const std::string& output();

  // Sends `signal` and waits up to `timeout_ms` for the child to end. Returns
  // the raw wait status, or -1 when the child did not end in time.
  int stop(int signal, int timeout_ms);

  // The raw wait status once the child has ended by itself within `timeout_ms`, else -1.
  int wait_exit(int timeout_ms);

 private:
  void drain(int timeout_ms);
  SpawnedChild child_;
  int status_ = -1;
  std::string output_;
};

// A fresh folder under the system's temporary directory, removed with its
// contents when the object goes.
class TempDir {
 public:
  TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The whole content of a file ("" when it cannot be read).
std::string read_file(const std::string& path);

// How often `word` occurs in `text`.
size_t occurrences(std::string_view text, std::string_view word);

// The lines of `text` that end in a line end, without it.
std::vector<std::string> lines_of(std::string_view text);

}  // namespace kestrelis
