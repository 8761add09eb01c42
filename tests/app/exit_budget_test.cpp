// The exit path's waits by the kind of ending: an ordinary ending keeps its
// waits; one the system follows by ending the process about 5 s later fits
// the off command and the drain into 4 s, whatever the off command took.

#include "app/exit_budget.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <tuple>

#include "app/station_archive.hpp"

namespace kestrelis {

namespace {

constexpr int64_t caught_ms = 1'000'000;  // any point of the monotonic clock

TEST(ExitBudget, WaitsByKindOfEndingAndTimeTheOffCommandTook) {
  // Ctrl+C keeps the keyer's own waits and 2 s of drain; a closed console
  // gives the off command 2.5 s and the drain the rest up to 3.7 s.
  // Whether the system ends the process soon, what the off command took, the drain.
  const std::tuple<bool, int64_t, int> cases[] = {
      {false, 10, 2000},  {false, 7000, 2000}, {true, 10, 2000}, {true, 1500, 2000},
      {true, 2500, 1200}, {true, 3600, 100},   {true, 3900, 0}};
  for (const auto& [must_end_soon, off_took_ms, drain_ms] : cases) {
    SCOPED_TRACE(testing::Message() << must_end_soon << ", off took " << off_took_ms << " ms");
    EXPECT_EQ(exit_unkey_deadline_ns(must_end_soon, caught_ms),
              must_end_soon ? (caught_ms + 2500) * 1'000'000 : std::numeric_limits<int64_t>::max());
    EXPECT_EQ(exit_drain_ms(must_end_soon, caught_ms, caught_ms + off_took_ms), drain_ms);
  }
  // Whenever the off command ends, the drain ends by 3.7 s, leaving 0.3 s of
  // the 4 s for the statistics and the exit, and a second before the system's 5 s.
  for (int64_t took_ms = 0; took_ms <= 6000; took_ms += 50) {
    SCOPED_TRACE(took_ms);
    const int drain_ms = exit_drain_ms(true, caught_ms, caught_ms + took_ms);
    EXPECT_TRUE(drain_ms >= 0 && drain_ms <= archive_drain_ms) << drain_ms;
    EXPECT_LE(drain_ms > 0 ? took_ms + drain_ms : 0, end_soon_drain_until_ms);
  }
}

}  // namespace

}  // namespace kestrelis
