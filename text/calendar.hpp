#pragma once
// The proleptic Gregorian calendar in UTC, by arithmetic alone: days since
// 1970-01-01 from a date and back. Pure, so that telemetry, the packet log,
// the forwarder and the tools share one rule without the operating system.

#include <cstdint>

#include "platform/clock.hpp"

namespace kestrelis {

// Days from 1970-01-01 to the date `year`-`month`-`day` (month 1-12, day
// 1-31, not checked against the month's length); negative before 1970.
[[nodiscard]] int64_t days_from_civil(int64_t year, int64_t month, int64_t day);

// The days of `month` (1-12) in `year`: 28 or 29 for February.
[[nodiscard]] int64_t days_in_month(int64_t year, int64_t month);

// `seconds` since 1970-01-01 UTC broken down into UTC calendar fields.
[[nodiscard]] CalendarFields utc_fields(int64_t seconds);

}  // namespace kestrelis
