// What the load tool reads from /proc about the TNC and its UDP port, and a
// short run of the tool against the real TNC.

#include <gtest/gtest.h>

#include <string>

#include "support/process.hpp"
#include "system/child_process.hpp"
#include "system/load_sockets.hpp"

namespace kestrelis {

namespace {

TEST(LoadProc, UdpPortQueueAndDrops) {
  const std::string table =
      "   sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  "
      "timeout inode ref pointer drops\n"
      "  118: 0100007F:8F0B 00000000:0000 07 00000000:00000000 00:00000000 00000000  1000    "
      "    0 41077 2 0000000000000000 0\n"
      "  203: 00000000:CF12 00000000:0000 07 00000000:00011A00 00:00000000 00000000  1000    "
      "    0 54321 2 0000000000000000 17\n";
  const auto stats = parse_udp_port_stats(table, 53010);
  ASSERT_TRUE(stats);
  EXPECT_EQ(stats->queued_bytes, 0x11A00u);
  EXPECT_EQ(stats->drops, 17u);
  EXPECT_TRUE(parse_udp_port_stats(table, 36619));
  EXPECT_FALSE(parse_udp_port_stats(table, 53011));
}

TEST(LoadProc, ProcessStatusAndCpuTicks) {
  const auto status = parse_process_status(
      "Name:\tkestrelis-tnc\nVmHWM:\t    3200 kB\nVmRSS:\t    3164 kB\nThreads:\t3\n");
  ASSERT_TRUE(status);
  EXPECT_EQ(status->rss_kb, 3164);
  EXPECT_EQ(status->peak_rss_kb, 3200);
  EXPECT_EQ(status->threads, 3);
  EXPECT_FALSE(parse_process_status("Name:\tzombie\n"));
  // A command name with blanks and a parenthesis; utime 250, stime 36.
  EXPECT_EQ(parse_stat_cpu_ticks("4242 (a b) c) S 1 4242 4242 0 -1 4194560 120 0 0 0 250 36 0 0 "
                                 "20 0 3 0 1000 1000000 800"),
            286u);
  EXPECT_FALSE(parse_stat_cpu_ticks("4242 (short) S 1"));
}

#ifdef KESTRELIS_LOAD_PATH
TEST(LoadToolLoopback, ShortNoiseRunAccountsForEveryPlantedFrame) {
  ChildProcess load({KESTRELIS_LOAD_PATH, "--tnc", KESTRELIS_TNC_PATH, "--quick", "--sections", "b",
                     "--bits", "2e6"},
                    {});
  const int status = load.wait_exit(120'000);
  const std::string report = load.output();
  EXPECT_EQ(status, 0) << report;
  EXPECT_NE(report.find("(b) planted frames received exactly once: 19 of 19"), std::string::npos)
      << report;
  EXPECT_NE(report.find("TNC ended on SIGTERM: ended by SIGTERM"), std::string::npos) << report;
}
#endif

}  // namespace

}  // namespace kestrelis
