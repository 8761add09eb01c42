#include "system/child_process.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>

#include "platform/clock.hpp"
#include "platform/files.hpp"

extern char** environ;

namespace kestrelis {

namespace {

// The number after `key` on its line of a "Key:   value" text; none when absent.
std::optional<long> status_field(std::string_view text, std::string_view key) {
  for (size_t at = 0; at < text.size();) {
    const size_t end = std::min(text.find('\n', at), text.size());
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    if (!line.starts_with(key)) continue;
    line.remove_prefix(key.size());
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    long value = 0;
    if (std::from_chars(line.data(), line.data() + line.size(), value).ec != std::errc{}) {
      return std::nullopt;
    }
    return value;
  }
  return std::nullopt;
}

// `name` itself when it holds a slash, else the first executable of that
// name in PATH ("" when there is none).
std::string program_path(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  const char* path = std::getenv("PATH");
  std::string_view dirs = path != nullptr ? path : "/usr/bin:/bin";
  while (!dirs.empty()) {
    const size_t colon = std::min(dirs.find(':'), dirs.size());
    const std::string candidate = std::string(dirs.substr(0, colon)) + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    dirs.remove_prefix(std::min(colon + 1, dirs.size()));
  }
  return "";
}

// The current environment as "NAME=value" entries, changed by `env`.
std::vector<std::string> environment_with(const std::vector<ChildEnv>& env) {
  std::map<std::string, std::string> vars;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry(*e);
    const size_t eq = entry.find('=');
    if (eq != std::string::npos) vars[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (const ChildEnv& change : env) {
    if (change.value) {
      vars[change.name] = *change.value;
    } else {
      vars.erase(change.name);
    }
  }
  std::vector<std::string> entries;
  for (const auto& [name, value] : vars) entries.push_back(name + "=" + value);
  return entries;
}

std::vector<char*> pointers_to(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

void close_if_open(int fd) {
  if (fd >= 0) ::close(fd);
}

bool send_signal(int pid, int signal_number) { return pid > 0 && ::kill(pid, signal_number) == 0; }

int wait_blocking(int pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

}  // namespace

SpawnedChild spawn_child(const std::vector<std::string>& argv, const std::vector<ChildEnv>& env,
                         const ChildStreams& streams) {
  SpawnedChild child;
  std::vector<std::string> args = argv;
  if (!args.empty()) args[0] = program_path(args[0]);
  if (args.empty() || args[0].empty()) {
    child.error = ENOENT;
    return child;
  }
  std::vector<std::string> env_strings = environment_with(env);
  const std::vector<char*> envp = pointers_to(env_strings);
  const std::vector<char*> argp = pointers_to(args);

  // The parent's and the child's ends of standard input and output.
  std::array<int, 2> in{-1, -1};
  std::array<int, 2> out{-1, -1};
  bool ready = true;
  if (streams.input_pipe) {
    ready = ::pipe2(in.data(), O_CLOEXEC) == 0;
  } else {
    in[0] = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  }
  if (!streams.log_path.empty()) {
    out[1] = ::open(streams.log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    ready = ready && out[1] >= 0;
  } else if (streams.output_pipe) {
    ready = ready && ::pipe2(out.data(), O_CLOEXEC) == 0;
  } else if (streams.discard_output) {
    out[1] = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    ready = ready && out[1] >= 0;
  }
  const pid_t parent = ::getpid();
  const pid_t pid = ready ? ::fork() : -1;
  if (pid == 0) {
    // Only async-signal-safe calls between fork and exec.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(127);
    // The child starts as from a terminal, whatever this process ignores or
    // blocks (a run under nohup ignores hang-ups, and children inherit that).
    for (const int s : {SIGHUP, SIGINT, SIGTERM}) ::signal(s, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (in[0] >= 0) ::dup2(in[0], STDIN_FILENO);
    if (out[1] >= 0) ::dup2(out[1], STDOUT_FILENO);
    if (!streams.log_path.empty()) ::dup2(out[1], STDERR_FILENO);
    ::execve(argp[0], argp.data(), envp.data());
    ::_exit(127);
  }
  const int error = errno;
  close_if_open(in[0]);
  close_if_open(out[1]);
  if (pid < 0) {
    close_if_open(in[1]);
    close_if_open(out[0]);
    child.error = error;
    return child;
  }
  child.pid = static_cast<int>(pid);
  child.input_fd = in[1];
  child.output_fd = out[0];
  if (child.output_fd >= 0) ::fcntl(child.output_fd, F_SETFL, O_NONBLOCK);
  return child;
}

void close_descriptor(int fd) { close_if_open(fd); }

ProgramRun run_program(const std::vector<std::string>& argv, std::string_view input) {
  ::signal(SIGPIPE, SIG_IGN);
  ChildStreams streams;
  streams.input_pipe = true;
  streams.discard_output = true;
  const SpawnedChild child = spawn_child(argv, {}, streams);
  ProgramRun run;
  run.error = child.error;
  if (child.pid < 0) return run;
  run.started = true;
  while (!input.empty()) {
    const ssize_t n = ::write(child.input_fd, input.data(), input.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;  // the child stopped reading; its exit status tells why
    input.remove_prefix(static_cast<size_t>(n));
  }
  ::close(child.input_fd);
  const int status = wait_blocking(child.pid);
  if (WIFEXITED(status)) run.exit_status = WEXITSTATUS(status);
  return run;
}

bool signal_child(int pid, int signal_number) { return send_signal(pid, signal_number); }
bool terminate_child(int pid) { return send_signal(pid, SIGTERM); }
bool kill_child(int pid) { return send_signal(pid, SIGKILL); }
bool pause_child(int pid) { return send_signal(pid, SIGSTOP); }
bool resume_child(int pid) { return send_signal(pid, SIGCONT); }

std::optional<int> wait_child(int pid, int timeout_ms) {
  const int64_t deadline = monotonic_ms() + timeout_ms;
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) return status;
    if (done < 0 && errno != EINTR) return std::nullopt;
    if (monotonic_ms() >= deadline) return std::nullopt;
    sleep_ms(10);
  }
}

std::string describe_wait_status(int status) {
  if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) {
    const char* name = sigabbrev_np(WTERMSIG(status));
    return std::string("ended by SIG") +
           (name != nullptr ? name : std::to_string(WTERMSIG(status)));
  }
  return "wait status " + std::to_string(status);
}

bool ended_by_sigterm(int status) { return WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM; }

std::string executable_directory() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : self.parent_path().string();
}

std::optional<std::string> make_temp_directory(std::string_view prefix) {
  std::error_code error;
  const std::filesystem::path base = std::filesystem::temp_directory_path(error);
  if (error) return std::nullopt;
  std::string pattern = (base / (std::string(prefix) + "XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) return std::nullopt;
  return pattern;
}

void remove_tree(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

std::optional<ProcessStats> parse_process_status(std::string_view status_text) {
  const std::optional<long> rss = status_field(status_text, "VmRSS:");
  if (!rss) return std::nullopt;
  ProcessStats stats;
  stats.rss_kb = *rss;
  stats.peak_rss_kb = status_field(status_text, "VmHWM:").value_or(0);
  stats.threads = static_cast<int>(status_field(status_text, "Threads:").value_or(0));
  return stats;
}

std::optional<uint64_t> parse_stat_cpu_ticks(std::string_view stat_text) {
  // The command name is in parentheses and may hold blanks; fields 14 and 15
  // (utime, stime) count from the pid as field 1.
  const size_t close = stat_text.rfind(')');
  if (close == std::string_view::npos) return std::nullopt;
  std::istringstream rest{std::string(stat_text.substr(close + 1))};
  std::string field;
  uint64_t ticks = 0;
  for (int number = 3; number <= 15; ++number) {
    if (!(rest >> field)) return std::nullopt;
    if (number < 14) continue;
    uint64_t value = 0;
    if (std::from_chars(field.data(), field.data() + field.size(), value).ec != std::errc{}) {
      return std::nullopt;
    }
    ticks += value;
  }
  return ticks;
}

std::optional<ProcessStats> process_stats(int pid) {
  const std::string folder = "/proc/" + std::to_string(pid);
  std::optional<ProcessStats> stats =
      parse_process_status(read_whole_file(folder + "/status").value_or(""));
  const std::optional<uint64_t> ticks =
      parse_stat_cpu_ticks(read_whole_file(folder + "/stat").value_or(""));
  if (!stats || !ticks) return std::nullopt;
  stats->cpu_seconds = static_cast<double>(*ticks) / static_cast<double>(::sysconf(_SC_CLK_TCK));
  std::error_code error;
  for (auto it = std::filesystem::directory_iterator(folder + "/fd", error);
       !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    ++stats->open_descriptors;
  }
  return stats;
}

}  // namespace kestrelis
