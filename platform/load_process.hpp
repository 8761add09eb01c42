#pragma once
// Processes for the load tool: starting the TNC and rigctld as children,
// signalling and reaping them by process id, and what /proc says of them.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Environment changes for a child: a value to set, or none to remove.
struct ChildEnv {
  std::string name;
  std::optional<std::string> value;
};

// The current environment as "NAME=value" entries, changed by `env`.
std::vector<std::string> environment_with(const std::vector<ChildEnv>& env);

// Starts `argv` (argv[0] a path, or a name looked up in PATH) with the
// current environment changed by `env`, standard input from /dev/null and
// standard output and error appended to `output_path` (which may be
// /dev/null). Returns the process id, or none when the program is not found,
// the output cannot be opened or the fork fails; a failed exec ends the child
// with status 127. The child gets SIGTERM when the calling thread ends, so
// call it from the main thread.
std::optional<int> spawn_child(const std::vector<std::string>& argv,
                               const std::vector<ChildEnv>& env, const std::string& output_path);

// Signals to one child, by its id. Return false when the signal could not be sent.
bool terminate_child(int pid);  // SIGTERM
bool kill_child(int pid);       // SIGKILL
bool pause_child(int pid);      // SIGSTOP
bool resume_child(int pid);     // SIGCONT

// Waits up to `timeout_ms` for the child `pid` to end and reaps it. Returns
// its raw wait status, or none while it still runs.
std::optional<int> wait_child(int pid, int timeout_ms);

// "exit status N", "ended by SIGTERM" and the like, for a raw wait status.
std::string describe_wait_status(int status);

// True when the raw wait status says the process was ended by SIGTERM.
bool ended_by_sigterm(int status);

// The folder of the running executable ("" when unknown).
std::string executable_directory();

// A fresh folder under the system's temporary directory; none on failure.
std::optional<std::string> make_temp_directory(std::string_view prefix);

// Removes `path` and everything below it; errors are ignored.
void remove_tree(const std::string& path);

// What /proc reports of a running process.
struct ProcessStats {
  long rss_kb = 0;       // resident set now
  long peak_rss_kb = 0;  // highest resident set so far
  int threads = 0;
  int open_descriptors = 0;
  double cpu_seconds = 0;  // user and system time of all its threads
};

// Reads /proc/<pid>/{status,stat,fd}; none when the process is gone.
std::optional<ProcessStats> process_stats(int pid);

// The fields of ProcessStats that /proc/<pid>/status carries (VmRSS, VmHWM,
// Threads); none when VmRSS is missing.
std::optional<ProcessStats> parse_process_status(std::string_view status_text);

// User plus system time in clock ticks from the text of /proc/<pid>/stat;
// none when it does not parse.
std::optional<uint64_t> parse_stat_cpu_ticks(std::string_view stat_text);
