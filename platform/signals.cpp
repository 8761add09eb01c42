#include "platform/signals.hpp"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "platform/clock.hpp"

namespace kestrelis {

namespace {

// Closing the terminal ends the process as Ctrl-C does, unless it was started
// to outlive its terminal (hang-up ignored, as nohup does).
bool hangup_ends = true;

// request_ending's status, carried by a real-time signal that nothing else
// sends; -1 while none was asked for.
std::atomic<int> ending_status{-1};
int ending_signal() { return SIGRTMIN; }

sigset_t termination_set() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  if (hangup_ends) sigaddset(&set, SIGHUP);
  return set;
}

std::optional<int> wait_in(const sigset_t& set, int timeout_ms) {
  const timespec timeout{timeout_ms / 1000, (timeout_ms % 1000) * 1'000'000L};
  for (;;) {
    const int signal_number = ::sigtimedwait(&set, nullptr, &timeout);
    if (signal_number > 0) return signal_number;
    if (errno != EINTR) return std::nullopt;
  }
}

}  // namespace

void hold_statistics_requests() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGUSR1);
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void block_termination_signals() {
  ::signal(SIGPIPE, SIG_IGN);
  struct sigaction hangup {};
  hangup_ends = ::sigaction(SIGHUP, nullptr, &hangup) != 0 || hangup.sa_handler != SIG_IGN;
  sigset_t set = termination_set();
  sigaddset(&set, SIGUSR1);
  sigaddset(&set, ending_signal());
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

std::optional<int> wait_for_termination_signal(int timeout_ms) {
  return wait_in(termination_set(), timeout_ms);
}

std::optional<CaughtSignal> wait_for_signal(int timeout_ms) {
  sigset_t set = termination_set();
  sigaddset(&set, SIGUSR1);
  sigaddset(&set, ending_signal());
  const std::optional<int> number = wait_in(set, timeout_ms);
  if (!number) return std::nullopt;
  // sigtimedwait returns as the signal comes, so now is when it came.
  CaughtSignal caught{.statistics = *number == SIGUSR1,
                      .number = *number,
                      .caught_ms = monotonic_ms(),
                      .ending_status = std::nullopt};
  if (*number == ending_signal()) {
    const int status = ending_status.load();
    if (status < 0) return std::nullopt;  // sent from outside: not a request
    caught.number = 0;
    caught.ending_status = status;
  }
  return caught;
}

void request_ending(int status) {
  int none = -1;
  if (ending_status.compare_exchange_strong(none, status)) ::kill(::getpid(), ending_signal());
}

void exit_by_signal(int signal_number) {
  ::signal(signal_number, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal_number);
  ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  ::raise(signal_number);
  ::_exit(128 + signal_number);
}

void exit_process(int status) { ::_exit(status); }

}  // namespace kestrelis
