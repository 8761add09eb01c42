#include <windows.h>

#include <ctime>

// Windows 10 1803 on; the mingw headers lack the name.
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

#include "platform/clock.hpp"

namespace kestrelis {

namespace {

CalendarFields fields_of(const std::tm& t) {
  return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
}

// 100 ns intervals between 1601-01-01 (the system time's epoch) and 1970-01-01.
constexpr int64_t epoch_offset_100ns = 116'444'736'000'000'000;
constexpr int64_t ns_per_s = 1'000'000'000;

int64_t unix_100ns() {
  FILETIME now{};
  ::GetSystemTimePreciseAsFileTime(&now);
  const uint64_t ticks = (uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
  return static_cast<int64_t>(ticks) - epoch_offset_100ns;
}

int64_t counter_frequency() {
  static const int64_t frequency = [] {
    LARGE_INTEGER f{};
    ::QueryPerformanceFrequency(&f);
    return static_cast<int64_t>(f.QuadPart);
  }();
  return frequency;
}

// A waitable timer per thread, high resolution where the system has it
// (Windows 10 1803 on); Sleep() alone rounds up to the 15.6 ms tick.
HANDLE thread_timer() {
  struct Timer {
    HANDLE handle = nullptr;
    Timer() {
      handle = ::CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                        TIMER_ALL_ACCESS);
      if (handle == nullptr) handle = ::CreateWaitableTimerW(nullptr, TRUE, nullptr);
    }
    ~Timer() {
      if (handle != nullptr) ::CloseHandle(handle);
    }
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;
  };
  thread_local Timer timer;
  return timer.handle;
}

}  // namespace

int64_t now_unix_ms() { return unix_100ns() / 10'000; }

int64_t now_unix_us() { return unix_100ns() / 10; }

CalendarFields local_fields(int64_t seconds) {
  const __time64_t t = seconds;
  std::tm broken{};
  ::_localtime64_s(&broken, &t);
  return fields_of(broken);
}

int64_t monotonic_ns() {
  LARGE_INTEGER count{};
  ::QueryPerformanceCounter(&count);
  const int64_t frequency = counter_frequency();
  const int64_t ticks = count.QuadPart;
  // Split so that the product cannot overflow for any uptime.
  return ticks / frequency * ns_per_s + ticks % frequency * ns_per_s / frequency;
}

int64_t monotonic_ms() { return monotonic_ns() / 1'000'000; }

void sleep_until_ns(int64_t deadline_ns) {
  const HANDLE timer = thread_timer();
  for (;;) {
    const int64_t left_ns = deadline_ns - monotonic_ns();
    if (left_ns <= 0) return;
    if (timer != nullptr) {
      LARGE_INTEGER due{};
      due.QuadPart = -((left_ns + 99) / 100);  // negative: relative, in 100 ns
      if (::SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE) &&
          ::WaitForSingleObject(timer, INFINITE) == WAIT_OBJECT_0) {
        continue;
      }
    }
    ::Sleep(static_cast<DWORD>((left_ns + 999'999) / 1'000'000));
  }
}

void sleep_ms(int64_t ms) {
  if (ms <= 0) return;
  sleep_until_ns(monotonic_ns() + ms * 1'000'000);
}

}  // namespace kestrelis
