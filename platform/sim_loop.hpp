#pragma once
// What a single-threaded tool's loop needs: one wait for a socket, a moment
// or the end of the process (SIGINT, SIGTERM).

#include <cstdint>

// Catches SIGINT and SIGTERM from now on: they no longer end the process but
// are recorded and end the next wait_readable_or_signal. Ignores SIGPIPE.
// Call once, before any other thread starts.
void catch_termination_signals();

// What ended a wait.
enum class WaitResult { timeout, readable, signal };

// Waits until `fd` is readable (fd -1: no socket), the monotonic clock reads
// `deadline_ns` (see monotonic_ns; a past deadline only polls), or a caught
// signal has arrived. Once a signal has arrived, every later call returns
// signal at once.
WaitResult wait_readable_or_signal(int fd, int64_t deadline_ns);

// The number of the caught termination signal, 0 while none has arrived.
int caught_termination_signal();
