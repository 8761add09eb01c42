// The decoder statistics as the real kestrelis-tnc prints them: on SIGUSR1,
// every StatsInterval seconds, and at exit. How they are
// counted is tested in robust_downlink_test.cpp.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "radio/test_bit_stream.hpp"
#include "support/tnc_process.hpp"

namespace kestrelis {

namespace {

using Bytes = std::vector<uint8_t>;

std::string config_text(uint16_t receive_port, const std::string& extra) {
  return "[modem]\nGR_ReceivePort = " + std::to_string(receive_port) +
         "\nGR_ReceiveAddress = 127.0.0.1\nGR_TransmitPort = " + std::to_string(free_udp_port()) +
         "\nAcquisition = robust\n" + extra +
         "[KISS]\nKISS_Port = " + std::to_string(free_tcp_port()) +
         "\nKISS_Address = 127.0.0.1\n[rigctld]\nAddress =\n";
}

size_t count_of(const std::string& text, const std::string& word) {
  size_t n = 0;
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
  return n;
}

// Waits until `word` has come `n` times, for at most `timeout_ms`.
bool wait_for_count(ChildProcess& tnc, const std::string& word, size_t n, int timeout_ms) {
  for (int waited = 0; count_of(tnc.output(), word) < n; waited += 50) {
    if (waited >= timeout_ms) return false;
    (void)tnc.wait_for_output("\x01", 50);  // never printed: drains the output for 50 ms
  }
  return true;
}

TEST(StatisticsBinary, PrintedOnSigusr1EveryIntervalAndAtExitWhenAskedFor) {
  // Two wrong bits in the last sync byte, one in the length field.
  Bytes stream = list_frame;
  stream[3] ^= 0x03;
  stream[5] ^= 0x10;
  stream.resize(stream.size() + 2);
  const std::string counts = "Statistics: " + std::to_string(8 * stream.size()) +
                             " bits, 1 sync words, 1 length bits corrected; codewords 1 decoded";
  const std::string second_line = "Statistics: packets 0 telemetry";
  const struct {
    const char* name;
    std::string extra_config;
    bool sigusr1;
    size_t reports;  // before SIGTERM
    bool report_at_exit;
  } cases[] = {
      {"SIGUSR1", "", true, 1, true},
      {"nothing asked: at exit only", "", false, 0, true},
      {"every second", "StatsInterval = 1\n", false, 2, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const uint16_t receive_port = free_udp_port();
    TncProfile profile(config_text(receive_port, c.extra_config));
    ChildProcess tnc = start_tnc(profile.home());
    ASSERT_TRUE(tnc.wait_for_output("Listening for GNURadio", 5000)) << tnc.output();
    Socket modem = udp_open();
    ASSERT_EQ(datagram_send(modem.fd(), {0x7F000001, receive_port}, stream), 0);
    ASSERT_TRUE(tnc.wait_for_output("Received self-generated packet", 5000)) << tnc.output();
    if (c.sigusr1) {
      ASSERT_EQ(::kill(tnc.pid(), SIGUSR1), 0);
    }
    ASSERT_TRUE(wait_for_count(tnc, second_line, c.reports, 5000)) << tnc.output();
    const size_t reports = count_of(tnc.output(), second_line);
    EXPECT_EQ(tnc.output().find(counts) != std::string::npos, c.reports > 0) << tnc.output();

    const int status = tnc.stop(SIGTERM, 5000);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << tnc.output();
    const std::string& all = tnc.output();
    const size_t last_line = all.rfind('\n', all.size() - 2);
    EXPECT_EQ(all.find(second_line, last_line) != std::string::npos, c.report_at_exit) << all;
    EXPECT_EQ(count_of(all, second_line) > reports, c.report_at_exit) << all;
    EXPECT_EQ(count_of(all, "Statistics: "), 2 * count_of(all, second_line)) << all;
  }
}

}  // namespace

}  // namespace kestrelis
