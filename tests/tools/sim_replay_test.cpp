// Record and replay: a pass recorded by one TNC and replayed by kestrelis-sim
// into a second TNC gives the same packet log, times of receipt aside, also
// from a recording whose last record was cut.

#include <gtest/gtest.h>
#include <signal.h>

#include <regex>
#include <string>
#include <vector>

#include "platform/clock.hpp"
#include "platform/files.hpp"
#include "support/downlink_packets.hpp"
#include "support/tnc_process.hpp"

namespace kestrelis {

#if defined(KESTRELIS_SIM_PATH)

namespace {

// A fresh profile for a TNC whose modem port is `modem_rx`, with `modem_keys` added to [modem].
TncProfile profile_with(uint16_t modem_rx, const std::string& modem_keys) {
  return TncProfile("[modem]\nGR_ReceivePort = " + std::to_string(modem_rx) +
                    "\nGR_TransmitPort = " + std::to_string(free_udp_port()) + "\n" + modem_keys +
                    "[KISS]\nKISS_Port = " + std::to_string(free_tcp_port()) +
                    "\n[rigctld]\nAddress =\n");
}

std::vector<std::string> without_times(std::vector<std::string> lines) {
  const std::regex received(R"("received":"[^"]*")");
  for (std::string& line : lines) line = std::regex_replace(line, received, "\"received\":\"\"");
  return lines;
}

TEST(SimReplay, ARecordedPassReplayedIntoASecondTncLogsTheSamePackets) {
  const uint16_t first_rx = free_udp_port();
  TncProfile first = profile_with(first_rx, "StreamRecording = 1\n");
  ChildProcess recorder = start_tnc(first.home());
  ASSERT_TRUE(recorder.wait_for_output("Listening for GNURadio", 5000)) << recorder.output();
  ASSERT_NE(recorder.output().find("Recording the modem's datagrams to " + first.folder() +
                                   "/recordings/"),
            std::string::npos)
      << recorder.output();

  const int64_t start_ms = now_unix_ms();
  const std::vector<PacketBytes> packets = sample_packets(start_ms, "replayed");
  const std::vector<uint8_t> stream = stream_of_packets(packets);
  send_stream(first_rx, stream, 256);
  const size_t datagrams = (stream.size() + 255) / 256;
  const std::vector<std::string> recorded =
      wait_for_log_lines(first.home(), start_ms, packets.size(), 5000);
  ASSERT_EQ(recorded.size(), packets.size()) << recorder.output();
  ASSERT_GE(recorder.stop(SIGTERM, 5000), 0);
  std::smatch m;
  const std::string out = recorder.output();
  ASSERT_TRUE(std::regex_search(
      out, m, std::regex(R"(Recording: (\S+\.rec), (\d+) datagrams, (\d+) bytes\n)")))
      << out;
  const std::string path = m[1];
  EXPECT_EQ(std::stoul(m[2]), datagrams);
  EXPECT_EQ(std::stoul(m[3]), 8 + 12 * datagrams + stream.size());
  EXPECT_EQ(file_size(path), std::stoull(m[3]));

  // A power cut in the middle of the next record's time.
  ASSERT_EQ(append_whole(path, std::string(5, '\0'), false), 0);

  const uint16_t second_rx = free_udp_port();
  TncProfile second = profile_with(second_rx, "");
  ChildProcess replayer = start_tnc(second.home());
  ASSERT_TRUE(replayer.wait_for_output("Listening for GNURadio", 5000)) << replayer.output();
  ChildProcess sim({KESTRELIS_SIM_PATH, "--replay", path, "--rx-port", std::to_string(second_rx)},
                   {{"HOME", second.home()}, {"USERPROFILE", std::nullopt}});
  const int status = sim.wait_exit(5000);
  EXPECT_EQ(status, 0) << sim.output();
  EXPECT_NE(sim.output().find(" is damaged after " + std::to_string(datagrams) + " datagrams"),
            std::string::npos)
      << sim.output();
  EXPECT_NE(sim.output().find("done: " + std::to_string(datagrams) + " of " +
                              std::to_string(datagrams) + " datagrams"),
            std::string::npos)
      << sim.output();
  const std::vector<std::string> replayed =
      wait_for_log_lines(second.home(), start_ms, packets.size(), 5000);
  EXPECT_EQ(without_times(replayed), without_times(recorded)) << replayer.output();
}

}  // namespace

#endif

}  // namespace kestrelis
