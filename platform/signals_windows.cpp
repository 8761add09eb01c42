#include <windows.h>

#include <algorithm>
#include <mutex>

#include "platform/clock.hpp"
#include "platform/signals.hpp"

namespace kestrelis {

// Windows has console control events where POSIX has signals; each gets the
// number of the signal that plays its part on Linux, so that the rest of the
// TNC treats them alike:
//   Ctrl+C                 SIGINT  (2)   end
//   Ctrl+Break             SIGUSR1 (10)  statistics
//   console window closed  SIGHUP  (1)   end
//   log-off, shut-down     SIGTERM (15)  end
// The system calls the handler on a thread of its own. Ctrl+C and Ctrl+Break
// are queued for the main loop and the handler returns. For a close, log-off
// or shut-down, returning would let the system end the process at once, so the
// handler waits for the main loop's exit path instead, which ends the process
// (the system allows about 5 s before it does so itself): those endings are
// taken with must_end_soon, so that the exit path fits.

namespace {

constexpr int hangup = 1;
constexpr int interrupt = 2;
constexpr int statistics = 10;
constexpr int terminate = 15;

struct Pending {
  std::mutex mutex;
  int termination = 0;         // the first termination event's number, 0 for none
  bool must_end_soon = false;  // the first termination event is one the system ends soon after
  int64_t termination_ms = 0;  // when it came, on monotonic_ms()
  int statistics_asked = 0;
  std::optional<int> ending_status;  // request_ending's, the first one
  HANDLE wake = nullptr;             // set while something is pending
};

Pending& pending() {
  static Pending p;
  return p;
}

void post(int number, bool must_end_soon) {
  const int64_t now_ms = monotonic_ms();
  Pending& p = pending();
  {
    std::lock_guard lock(p.mutex);
    if (number == statistics) {
      ++p.statistics_asked;
    } else if (p.termination == 0) {
      p.termination = number;
      p.must_end_soon = must_end_soon;
      p.termination_ms = now_ms;
    }
  }
  ::SetEvent(p.wake);
}

BOOL WINAPI on_console_event(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
      post(interrupt, false);
      return TRUE;
    case CTRL_BREAK_EVENT:
      post(statistics, false);
      return TRUE;
    case CTRL_CLOSE_EVENT:
      post(hangup, true);
      break;
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      post(terminate, true);
      break;
    default:
      return FALSE;
  }
  // The main loop's exit path ends the process; until then this thread holds
  // the system's own ending off.
  ::Sleep(INFINITE);
  return TRUE;
}

void install_handler() {
  static std::once_flag once;
  std::call_once(once, [] {
    pending().wake = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ::SetConsoleCtrlHandler(on_console_event, TRUE);
  });
}

// Takes a pending event: any termination when `with_statistics` is false,
// else a termination first and then a request for statistics.
std::optional<CaughtSignal> take(bool with_statistics) {
  Pending& p = pending();
  std::lock_guard lock(p.mutex);
  std::optional<CaughtSignal> caught;
  if (with_statistics && p.ending_status) {
    caught = CaughtSignal{.statistics = false,
                          .number = 0,
                          .must_end_soon = false,
                          .caught_ms = monotonic_ms(),
                          .ending_status = p.ending_status};
  } else if (p.termination != 0) {
    caught = CaughtSignal{.statistics = false,
                          .number = p.termination,
                          .must_end_soon = p.must_end_soon,
                          .caught_ms = p.termination_ms,
                          .ending_status = std::nullopt};
  } else if (with_statistics && p.statistics_asked > 0) {
    --p.statistics_asked;
    caught = CaughtSignal{.statistics = true,
                          .number = statistics,
                          .caught_ms = monotonic_ms(),
                          .ending_status = std::nullopt};
  }
  // A termination stays pending: a second wait sees it again, as a blocked
  // signal would stay pending.
  if (!p.ending_status && p.termination == 0 && p.statistics_asked == 0) ::ResetEvent(p.wake);
  return caught;
}

std::optional<CaughtSignal> wait_in(bool with_statistics, int timeout_ms) {
  install_handler();
  const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(std::max(timeout_ms, 0));
  for (;;) {
    if (auto caught = take(with_statistics)) return caught;
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) return std::nullopt;
    if (::WaitForSingleObject(pending().wake, static_cast<DWORD>(deadline - now)) !=
        WAIT_OBJECT_0) {
      return take(with_statistics);
    }
    // Only statistics are pending and not asked for: wait out the time.
    if (!with_statistics) {
      const ULONGLONG later = ::GetTickCount64();
      if (later < deadline) ::Sleep(static_cast<DWORD>(std::min<ULONGLONG>(deadline - later, 50)));
    }
  }
}

}  // namespace

// Ctrl+Break during start-up waits for the main loop, as SIGUSR1 does.
void hold_statistics_requests() { install_handler(); }

// No SIGPIPE on Windows: a send on a closed connection returns an error.
void block_termination_signals() { install_handler(); }

std::optional<int> wait_for_termination_signal(int timeout_ms) {
  const std::optional<CaughtSignal> caught = wait_in(false, timeout_ms);
  if (!caught) return std::nullopt;
  return caught->number;
}

std::optional<CaughtSignal> wait_for_signal(int timeout_ms) { return wait_in(true, timeout_ms); }

void request_ending(int status) {
  install_handler();
  Pending& p = pending();
  {
    std::lock_guard lock(p.mutex);
    if (p.ending_status) return;
    p.ending_status = status;
  }
  ::SetEvent(p.wake);
}

void exit_by_signal(int signal_number) {
  // The status a POSIX shell reports for a process a signal ended.
  ::ExitProcess(static_cast<UINT>(128 + signal_number));
}

void exit_process(int status) { ::ExitProcess(static_cast<UINT>(status)); }

}  // namespace kestrelis
