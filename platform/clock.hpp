#pragma once
// Calendar time, its broken-down forms, and monotonic waits.

#include <cstdint>

namespace kestrelis {

// A broken-down time: day of month 1-31, month 1-12, hour, minute, second.
struct CalendarFields {
  int year = 1970;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// Current calendar time in milliseconds since 1970-01-01 UTC, seconds and
// milliseconds read in one go so that they always agree.
[[nodiscard]] int64_t now_unix_ms();

// The same in microseconds.
[[nodiscard]] int64_t now_unix_us();

// `seconds` since the epoch broken down in the local time zone (UTC fields
// come from text/calendar.hpp, by arithmetic).
CalendarFields local_fields(int64_t seconds);

// Time on a clock that never jumps (unaffected by setting the time).
int64_t monotonic_ns();
int64_t monotonic_ms();

// Sleeps for `ms` milliseconds of the monotonic clock, resuming after signals;
// returns at once for 0 or less.
void sleep_ms(int64_t ms);

// Sleeps until the monotonic clock reads `deadline_ns` (see monotonic_ns).
void sleep_until_ns(int64_t deadline_ns);

}  // namespace kestrelis
