// The whole station on loopback: the real TNC, the simulator playing the
// modem and the satellite, and the terminal client playing the GUI.

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>

#include "kiss/record.hpp"
#include "support/process.hpp"
#include "support/tnc_process.hpp"

namespace kestrelis {

#if defined(KESTRELIS_SIM_PATH) && defined(KESTRELIS_KISS_PATH)

namespace {

TEST(StationLoopback, TelemetryOfEveryLayoutAndADigipeaterRoundTrip) {
  const uint16_t modem_rx = free_udp_port();
  const uint16_t modem_tx = free_udp_port();
  const uint16_t kiss = free_tcp_port();
  TncProfile profile("[modem]\nGR_ReceivePort = " + std::to_string(modem_rx) +
                     "\nGR_TransmitPort = " + std::to_string(modem_tx) +
                     "\n[KISS]\nKISS_Port = " + std::to_string(kiss) +
                     "\n[radio]\nCallFrom = QQ0ABC\nPostambleLength = 20\n[rigctld]\nAddress =\n");
  ChildProcess tnc = start_tnc(profile.home());
  ASSERT_TRUE(tnc.wait_for_output("Listening for GNURadio", 5000)) << tnc.output();

  // The tools take the TNC's ports from its config.ini in the same profile.
  const std::vector<EnvChange> env = {{"HOME", profile.home()}, {"USERPROFILE", std::nullopt}};
  // A relay delay of 30 satellite seconds is 3 s here; bit errors exercise the decoder.
  ChildProcess sim({KESTRELIS_SIM_PATH, "--bitrate=100000", "--datagram=200", "--interval=0.1",
                    "--ber=0.0005", "--seed=7", "--time-scale=10", "--duration=60", "--quiet"},
                   env);
  // The satellite must be listening before the request goes up.
  ASSERT_TRUE(sim.wait_for_output("sim: uplink on UDP", 5000)) << sim.output();

  const std::string records = profile.home() + "/records.jsonl";
  ChildProcess client({KESTRELIS_KISS_PATH, "--no-stdin", "--exit-after", "60", "--jsonl", records,
                       "--send", "QQ0ABC>QQ0XYZ, Kestrelis, STORE=30 hello station"},
                      env);
  ASSERT_TRUE(client.wait_for_output("LINK connected to 127.0.0.1:" + std::to_string(kiss), 5000))
      << client.output();
  EXPECT_TRUE(client.wait_for_output("Received: QQ0ABC>QQ0XYZ: hello station", 30000))
      << client.output() << sim.output();
  EXPECT_NE(client.output().find("Transmitted: QQ0ABC>QQ0XYZ, Kestrelis, STORE=30 hello station"),
            std::string::npos);
  EXPECT_NE(sim.output().find("stored message from QQ0ABC to QQ0XYZ"), std::string::npos);

  // Every layout, beacon and telemetry alike, with its whole set of members.
  const std::map<std::pair<int, int>, int> members = {{{1, 5}, 64}, {{1, 6}, 66}, {{1, 7}, 68},
                                                      {{1, 8}, 66}, {{1, 9}, 67}, {{3, 1}, 53},
                                                      {{3, 2}, 55}, {{3, 3}, 55}, {{3, 11}, 42}};
  const std::regex record_line(
      R"(TELEMETRY sat=(\d+) v=(\d+) (beacon|telemetry), [^\n]*, (\d+) fields)");
  std::map<std::pair<int, int>, int> seen;
  for (int attempt = 0; attempt < 200 && seen.size() < 2 * members.size(); ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    seen.clear();
    const std::string out = client.output();
    for (std::sregex_iterator m(out.begin(), out.end(), record_line), end; m != end; ++m) {
      const std::pair<int, int> layout{std::stoi((*m)[1]), std::stoi((*m)[2])};
      SCOPED_TRACE(m->str());
      ASSERT_TRUE(members.contains(layout));
      EXPECT_EQ(std::stoi((*m)[4]), members.at(layout));
      seen[{layout.first * 100 + layout.second, (*m)[3] == "beacon"}] = 1;
    }
  }
  EXPECT_EQ(seen.size(), 2 * members.size()) << client.output();
  EXPECT_EQ(client.output().find("malformed"), std::string::npos);

  // The client's record file holds the same records, one object a line.
  std::istringstream lines(read_file(records));
  int objects = 0;
  for (std::string line; std::getline(lines, line); ++objects) {
    EXPECT_TRUE(line.starts_with("{\"_received\":") &&
                parse_json_object(line, JsonValues::scalars).has_value())
        << line;
  }
  EXPECT_GE(objects, 18);
}

}  // namespace

#endif

}  // namespace kestrelis
