// The real binary's GUI server when clients come and go quickly.

#include <gtest/gtest.h>

#include "platform/clock.hpp"
#include "support/loopback_peers.hpp"
#include "support/tnc_process.hpp"

namespace {

TEST(GuiServerLoopback, ClientsThatCameAndWentDoNotKeepTheNextWaiting) {
  const uint16_t kiss_port = free_tcp_port();
  TncProfile profile("[modem]\nGR_ReceivePort = " + std::to_string(free_udp_port()) +
                     "\nGR_TransmitPort = " + std::to_string(free_udp_port()) +
                     "\n[KISS]\nKISS_Port = " + std::to_string(kiss_port) +
                     "\n[rigctld]\nAddress =\n");
  ChildProcess tnc = start_tnc(profile.home());
  ASSERT_TRUE(tnc.wait_for_output("Waiting for GUI client", 5000)) << tnc.output();
  for (int i = 0; i < 5; ++i) {
    KissClient gone(kiss_port, 3000);
    ASSERT_TRUE(gone.connected());
  }
  KissClient next(kiss_port, 3000);
  const int64_t sent_at = monotonic_ms();
  next.send_frame("cmd:bogus");
  ASSERT_TRUE(tnc.wait_for_output("] Unknown command \"bogus\"", 5000)) << tnc.output();
  // Served as soon as the five dead connections were seen off, not a second for each.
  EXPECT_LT(monotonic_ms() - sent_at, 1500);
}

}  // namespace
