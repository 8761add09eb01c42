#include "platform/sim_loop.hpp"

#include <poll.h>
#include <signal.h>

#include <cerrno>
#include <ctime>

#include "platform/clock.hpp"

namespace {

volatile sig_atomic_t caught_signal = 0;

void record_signal(int signal_number) { caught_signal = signal_number; }

sigset_t termination_set() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

constexpr int64_t ns_per_s = 1'000'000'000;

}  // namespace

void catch_termination_signals() {
  ::signal(SIGPIPE, SIG_IGN);
  struct sigaction action {};
  action.sa_handler = record_signal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  // Blocked everywhere but inside ppoll, so a signal can neither be lost
  // between the check of the flag and the wait nor interrupt anything else.
  sigset_t set = termination_set();
  ::sigprocmask(SIG_BLOCK, &set, nullptr);
}

WaitResult wait_readable_or_signal(int fd, int64_t deadline_ns) {
  sigset_t during_wait;
  ::sigprocmask(SIG_SETMASK, nullptr, &during_wait);
  sigdelset(&during_wait, SIGINT);
  sigdelset(&during_wait, SIGTERM);
  for (;;) {
    if (caught_signal != 0) return WaitResult::signal;
    const int64_t left = deadline_ns - monotonic_ns();
    const timespec timeout{static_cast<time_t>(left > 0 ? left / ns_per_s : 0),
                           static_cast<long>(left > 0 ? left % ns_per_s : 0)};
    pollfd p{fd, POLLIN, 0};
    const int ready = ::ppoll(&p, fd >= 0 ? 1 : 0, &timeout, &during_wait);
    if (ready > 0) return WaitResult::readable;
    if (ready == 0) return WaitResult::timeout;
    if (errno != EINTR) return WaitResult::timeout;
  }
}

int caught_termination_signal() { return caught_signal; }
