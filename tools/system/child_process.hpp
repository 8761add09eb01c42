#pragma once
// Child processes of the tools and the tests: starting them, signalling and
// reaping them by process id, and what /proc says of them.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrelis {

// Environment changes for a child: a value to set, or none to remove.
struct ChildEnv {
  std::string name;
  std::optional<std::string> value;
};

// Where a child's standard streams go.
struct ChildStreams {
  std::string log_path;         // standard output and error appended to this file when set
  bool output_pipe = false;     // else: standard output into a pipe when set
  bool discard_output = false;  // else: standard output to /dev/null when set, or inherited
  bool input_pipe = false;      // standard input from a pipe the caller writes; else /dev/null
};

struct SpawnedChild {
  int pid = -1;        // -1 when it could not be started
  int error = 0;       // then the error number; ENOENT when the program is not found
  int input_fd = -1;   // with input_pipe: the write end of its standard input
  int output_fd = -1;  // with output_pipe: the non-blocking read end of its standard output
};

// Starts `argv` (argv[0] a path, or a name looked up in PATH) with the
// current environment changed by `env`. A failed exec ends the child with
// status 127. The child gets SIGTERM when the calling thread ends, so that a
// killed tool or test leaves no TNC or rigctld holding the loopback ports;
// call it from the main thread.
[[nodiscard]] SpawnedChild spawn_child(const std::vector<std::string>& argv,
                                       const std::vector<ChildEnv>& env,
                                       const ChildStreams& streams);

// Closes a pipe end of a SpawnedChild.
void close_descriptor(int fd);

struct ProgramRun {
  bool started = false;  // false: the program could not be run (`error` says why)
  int error = 0;         // errno of the failed start, ENOENT when it is not on PATH
  int exit_status = -1;  // its exit status; -1 when it ended by a signal
};

// Runs `argv` with `input` on its standard input, its standard output
// discarded and this process's standard error, and waits for it to end. A
// program that fails to open its output file may write there instead (gnuplot
// does), which is no text for the terminal. Ignores SIGPIPE from then on, so
// that a child that stops reading early is reported by its exit status rather
// than ending this process.
[[nodiscard]] ProgramRun run_program(const std::vector<std::string>& argv, std::string_view input);

// Signals to one child, by its id. False when the signal could not be sent.
[[nodiscard]] bool signal_child(int pid, int signal_number);
[[nodiscard]] bool terminate_child(int pid);  // SIGTERM
[[nodiscard]] bool kill_child(int pid);       // SIGKILL
[[nodiscard]] bool pause_child(int pid);      // SIGSTOP
[[nodiscard]] bool resume_child(int pid);     // SIGCONT

// Waits up to `timeout_ms` for the child `pid` to end and reaps it. Returns
// its raw wait status, or none while it still runs.
[[nodiscard]] std::optional<int> wait_child(int pid, int timeout_ms);

// "exit status N", "ended by SIGTERM" and the like, for a raw wait status.
std::string describe_wait_status(int status);

// True when the raw wait status says the process was ended by SIGTERM.
bool ended_by_sigterm(int status);

// The folder of the running executable ("" when unknown).
std::string executable_directory();

// A fresh folder under the system's temporary directory; none on failure.
[[nodiscard]] std::optional<std::string> make_temp_directory(std::string_view prefix);

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
[[nodiscard]] std::optional<ProcessStats> process_stats(int pid);

// The fields of ProcessStats that /proc/<pid>/status carries (VmRSS, VmHWM,
// Threads); none when VmRSS is missing.
[[nodiscard]] std::optional<ProcessStats> parse_process_status(std::string_view status_text);

// User plus system time in clock ticks from the text of /proc/<pid>/stat;
// none when it does not parse.
[[nodiscard]] std::optional<uint64_t> parse_stat_cpu_ticks(std::string_view stat_text);

}  // namespace kestrelis
