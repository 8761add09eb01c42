#pragma once
// Process signals: the TNC ends on SIGINT, SIGTERM or SIGHUP (its terminal
// closed) and prints its statistics on SIGUSR1, handled in one place. On
// Windows the console's events play their parts: Ctrl+C is SIGINT, a closed
// console window SIGHUP, log-off and shut-down SIGTERM, Ctrl+Break SIGUSR1.

#include <cstdint>
#include <optional>

namespace kestrelis {

// Blocks SIGUSR1 in the calling thread: a request for statistics that comes
// during start-up waits for the main loop instead of ending the process,
// which is what SIGUSR1 does by default. Call first in main.
void hold_statistics_requests();

// Blocks the termination signals and SIGUSR1 in the calling thread and every
// thread it starts afterwards, and ignores SIGPIPE. SIGHUP counts only when it
// was not ignored at start. Call before starting any thread.
void block_termination_signals();

// Waits, using no CPU, up to `timeout_ms` for a termination signal; returns its
// number, or none when the time ran out.
[[nodiscard]] std::optional<int> wait_for_termination_signal(int timeout_ms);

// A signal taken by wait_for_signal.
struct CaughtSignal {
  bool statistics = false;  // SIGUSR1: statistics asked for; else a termination signal
  int number = 0;
  // The system ends the process by itself soon after this ending came
  // (Windows: about 5 s after a closed console window, a log-off or a
  // shut-down), so the exit path must be short. Never on POSIX.
  bool must_end_soon = false;
  int64_t caught_ms = 0;  // monotonic_ms() when the signal or event came
  // request_ending's status: a thread asked the process to end; no signal came.
  std::optional<int> ending_status;
};

// Waits as wait_for_termination_signal does, for a termination signal,
// SIGUSR1 or request_ending.
[[nodiscard]] std::optional<CaughtSignal> wait_for_signal(int timeout_ms);

// Asks the thread in wait_for_signal to end the process with `status`, so
// that a worker that cannot go on ends it the way a signal does: through the
// main loop, which unkeys first. Callable from any thread once
// block_termination_signals has run; the first request counts.
void request_ending(int status);

// Ends the process as the signal `signal_number` would have ended it.
[[noreturn]] void exit_by_signal(int signal_number);

// Ends the process at once with `status`, without running destructors.
[[noreturn]] void exit_process(int status);

}  // namespace kestrelis
