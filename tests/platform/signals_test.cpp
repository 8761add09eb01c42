#include "platform/signals.hpp"

#include <gtest/gtest.h>

#include <thread>

namespace kestrelis {

namespace {

// A worker that cannot go on asks the main loop to end the process: the wait
// wakes with the first status asked for, and nothing is left pending.
TEST(Signals, AnEndingAskedForByAThreadWakesTheWaitWithTheFirstStatus) {
  block_termination_signals();
  std::thread([] {
    request_ending(3);
    request_ending(4);
  }).join();
  const std::optional<CaughtSignal> caught = wait_for_signal(5000);
  ASSERT_TRUE(caught.has_value());
  EXPECT_EQ(caught->ending_status, 3);
  EXPECT_FALSE(caught->statistics);
}

}  // namespace

}  // namespace kestrelis
