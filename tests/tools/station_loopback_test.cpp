// The whole station on loopback (the real TNC, kestrelis-sim as modem and
// satellite, kestrelis-kiss as GUI), and kestrelis-sim replaying recordings
// no recorder made.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "archive/recording.hpp"
#include "config/profile_paths.hpp"
#include "kiss/plot.hpp"
#include "platform/clock.hpp"
#include "platform/files.hpp"
#include "platform/net.hpp"
#include "support/process.hpp"
#include "support/tnc_process.hpp"

namespace kestrelis {

#if defined(KESTRELIS_SIM_PATH)

namespace {

// A fresh profile for a TNC whose modem port is `modem_rx`, with `modem_keys`
// added to [modem] and `more` sections.
TncProfile profile_with(uint16_t modem_rx, const std::string& modem_keys,
                        const std::string& more = "") {
  return TncProfile("[modem]\nGR_ReceivePort = " + std::to_string(modem_rx) +
                    "\nGR_TransmitPort = " + std::to_string(free_udp_port()) + "\n" + modem_keys +
                    "[KISS]\nKISS_Port = " + std::to_string(free_tcp_port()) +
                    "\n[rigctld]\nAddress =\n" + more);
}

// 3 GiB with their records ending in a sparse hole, or with no header at
// all, and a gap of a day: each is replayed within seconds, in memory of its
// own size, with a line for what was out of the ordinary.
TEST(SimReplay, HugeAndGappedRecordingsEndWithinSeconds) {
  constexpr int64_t t0 = 1'796'594'241'123'456;
  constexpr int64_t day_us = 86'400'000'000;
  constexpr uint64_t huge = uint64_t{3} << 30;
  const struct {
    const char* name;
    std::vector<int64_t> times;  // one datagram of 64 bytes each
    uint64_t sparse_size;        // 0: the file as written
    bool header;                 // none: refused, nothing sent
    int64_t least_ms, most_ms;
    std::string said;
  } cases[] = {
      {"huge sparse", {t0, t0 + 1000, t0 + 2000}, huge, true, 0, 2000,
       "is damaged after 3 datagrams (byte 236 of 3221225472)"},
      {"huge sparse, no header", {}, huge, false, 0, 2000, "is not a Kestrelis stream recording"},
      {"a day's gap", {t0, t0 + day_us, t0 + day_us + 500'000}, 0, true, 1400, 4000,
       "jump 86400.0 s forward after datagram 1: waiting 1 s instead"},
  };
  const TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.path() + "/replay.rec";
    std::string file =
        c.header ? std::string(recording_header.begin(), recording_header.end()) : "";
    for (const int64_t t : c.times) {
      const std::vector<uint8_t> record = pack_recorded_datagram(t, std::vector<uint8_t>(64, 0x55));
      file.append(record.begin(), record.end());
    }
    ASSERT_TRUE(write_text_file(path, file).ok());
    if (c.sparse_size > 0) std::filesystem::resize_file(path, c.sparse_size);
    NetResult tnc = udp_bind("127.0.0.1", 0, 1 << 20);
    ASSERT_TRUE(tnc.status.ok());
    const uint16_t port = local_port(tnc.socket.fd());
    const int64_t start_ms = monotonic_ms();
    ChildProcess sim({KESTRELIS_SIM_PATH, "--replay", path, "--rx-port", std::to_string(port)}, {});
    EXPECT_EQ(sim.wait_exit(10'000), c.header ? 0 : 1 << 8) << sim.output();
    const int64_t took_ms = monotonic_ms() - start_ms;
    EXPECT_GE(took_ms, c.least_ms);
    EXPECT_LE(took_ms, c.most_ms);
    EXPECT_NE(sim.output().find(c.said), std::string::npos) << sim.output();
    size_t received = 0;
    std::vector<uint8_t> buffer(65536);
    while (wait_readable(tnc.socket.fd(), 100) && datagram_receive(tnc.socket.fd(), buffer) == 64) {
      ++received;
    }
    EXPECT_EQ(received, c.times.size());
  }
}

#if defined(KESTRELIS_KISS_PATH)
TEST(StationLoopback, TelemetryOfEveryLayoutAndADigipeaterRoundTrip) {
  TncProfile profile =
      profile_with(free_udp_port(), "", "[radio]\nCallFrom = QQ0ABC\nPostambleLength = 20\n");
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

  ChildProcess client({KESTRELIS_KISS_PATH, "--no-stdin", "--exit-after", "60", "--send",
                       "QQ0ABC>QQ0XYZ, Kestrelis, STORE=30 hello station"},
                      env);
  ASSERT_TRUE(client.wait_for_output("LINK connected to 127.0.0.1:", 5000)) << client.output();
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

  // The TNC's packet log holds the same records, which the client's plot reads.
  std::string log;
  for (const auto& day :
       std::filesystem::directory_iterator(profile_paths(profile.home()).packets)) {
    log += read_file(day.path().string());
  }
  const std::vector<std::string> fields = {"tlm_id"};
  EXPECT_GE(read_plot_input(log, fields).rows.size(), 18u);
}
#endif

}  // namespace

#endif

}  // namespace kestrelis
