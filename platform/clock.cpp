#include "platform/clock.hpp"

#include <time.h>

#include <cerrno>

namespace kestrelis {

namespace {

CalendarFields fields_of(const struct tm& t) {
  return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
}

constexpr int64_t ns_per_s = 1'000'000'000;

}  // namespace

int64_t now_unix_ms() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

int64_t now_unix_us() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int64_t>(now.tv_sec) * 1'000'000 + now.tv_nsec / 1000;
}

CalendarFields local_fields(int64_t seconds) {
  time_t t = static_cast<time_t>(seconds);
  struct tm broken {};
  ::localtime_r(&t, &broken);
  return fields_of(broken);
}

int64_t monotonic_ns() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * ns_per_s + now.tv_nsec;
}

int64_t monotonic_ms() { return monotonic_ns() / 1'000'000; }

void sleep_until_ns(int64_t deadline_ns) {
  timespec deadline{static_cast<time_t>(deadline_ns / ns_per_s),
                    static_cast<long>(deadline_ns % ns_per_s)};
  // An absolute deadline: a signal that interrupts the sleep does not shorten it.
  while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
  }
}

void sleep_ms(int64_t ms) {
  if (ms <= 0) return;
  sleep_until_ns(monotonic_ns() + ms * 1'000'000);
}

}  // namespace kestrelis
