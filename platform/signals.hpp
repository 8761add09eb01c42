#pragma once
// Process signals: the TNC ends on SIGINT, SIGTERM or SIGHUP (its terminal
// closed) and prints its statistics on SIGUSR1, handled in one place.

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
};

// Waits as wait_for_termination_signal does, for a termination signal or SIGUSR1.
[[nodiscard]] std::optional<CaughtSignal> wait_for_signal(int timeout_ms);

// Ends the process as the signal `signal_number` would have ended it.
[[noreturn]] void exit_by_signal(int signal_number);

// Ends the process at once with `status`, without running destructors.
[[noreturn]] void exit_process(int status);

}  // namespace kestrelis
