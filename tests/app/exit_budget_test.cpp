// The exit path's waits by the kind of ending: an ordinary ending keeps its
// waits; one the system follows by ending the process about 5 s later fits
// the off command and the drain into 4 s, whatever the off command took.

#include "app/exit_budget.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "app/station_archive.hpp"

namespace kestrelis {

namespace {

constexpr int64_t caught_ms = 1'000'000;  // any point of the monotonic clock
constexpr int64_t ms = 1'000'000;         // in nanoseconds

TEST(ExitBudget, WaitsByKindOfEndingAndTimeTheOffCommandTook) {
  const struct {
    const char* name;
    bool must_end_soon;
    int64_t off_took_ms;
    int64_t unkey_deadline_ns;
    int drain_ms;
  } cases[] = {
      {"Ctrl+C: the keyer's own waits, 2 s of drain", false, 10,
       std::numeric_limits<int64_t>::max(), 2000},
      {"Ctrl+C after a 7 s off command: still 2 s of drain", false, 7000,
       std::numeric_limits<int64_t>::max(), 2000},
      {"close, off answered at once: 2 s of drain", true, 10, (caught_ms + 2500) * ms, 2000},
      {"close, off answered at 1.5 s: the rest up to 3.7 s", true, 1500, (caught_ms + 2500) * ms,
       2000},
      {"close, off unanswered by 2.5 s: 1.2 s of drain", true, 2500, (caught_ms + 2500) * ms, 1200},
      {"close, the lock held the off command to 3.6 s", true, 3600, (caught_ms + 2500) * ms, 100},
      {"close, off command past the drain's share: no drain", true, 3900, (caught_ms + 2500) * ms,
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(exit_unkey_deadline_ns(c.must_end_soon, caught_ms), c.unkey_deadline_ns);
    EXPECT_EQ(exit_drain_ms(c.must_end_soon, caught_ms, caught_ms + c.off_took_ms), c.drain_ms);
  }
}

// Whenever the off command ends, the drain ends by 3.7 s, leaving 0.3 s of
// the 4 s for the statistics and the exit, and a second before the system's 5 s.
TEST(ExitBudget, AClosedConsoleEndsWithinFourSecondsHoweverLongTheOffCommandTook) {
  for (int64_t took_ms = 0; took_ms <= 6000; took_ms += 50) {
    SCOPED_TRACE(took_ms);
    const int64_t now_ms = caught_ms + took_ms;
    const int drain_ms = exit_drain_ms(true, caught_ms, now_ms);
    EXPECT_GE(drain_ms, 0);
    EXPECT_LE(drain_ms, archive_drain_ms);
    if (drain_ms > 0) {
      EXPECT_LE(now_ms + drain_ms, caught_ms + end_soon_drain_until_ms);
    }
  }
}

}  // namespace

}  // namespace kestrelis
