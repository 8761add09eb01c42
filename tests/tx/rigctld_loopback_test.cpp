// Keying against the real rigctld with a dummy rig, started and stopped here.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <string>

#include "platform/clock.hpp"
#include "support/loopback_peers.hpp"
#include "support/tnc_process.hpp"
#include "tx/transmit.hpp"

namespace {

constexpr char rigctld_path[] = "/usr/bin/rigctld";

// rigctld -m 1 (dummy rig) on a free loopback port; PTT through the rig when
// `with_ptt`, else no PTT type at all.
struct Rigctld {
  explicit Rigctld(bool with_ptt) : port(free_tcp_port()), process(argv(with_ptt), {}) {
    for (int i = 0; i < 100 && ptt().empty(); ++i) sleep_ms(20);
    sleep_ms(300);  // the daemon stalls on connections that arrive back to back
  }
  ~Rigctld() { process.stop(SIGTERM, 2000); }
  std::vector<std::string> argv(bool with_ptt) const {
    std::vector<std::string> a{rigctld_path, "-m", "1", "-T", "127.0.0.1", "-t",
                               std::to_string(port)};
    if (with_ptt) a.insert(a.end(), {"-P", "RIG"});
    return a;
  }
  // The PTT state, asked on a connection of its own: "0" or "1" ("" when not answering).
  std::string ptt() const {
    NetResult c = tcp_connect("127.0.0.1", std::to_string(port).c_str(), 1000);
    if (c.failed_at != NetStep::none) return "";
    const uint8_t query[] = {'t', '\n'};
    (void)send_all(c.socket.fd(), query);
    shutdown_send(c.socket.fd());
    std::string answer;
    uint8_t buffer[64];
    while (wait_readable(c.socket.fd(), 1000)) {
      long n = stream_receive(c.socket.fd(), buffer);
      if (n <= 0) break;
      answer.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
    }
    return answer.substr(0, answer.find('\n'));
  }
  uint16_t port;
  ChildProcess process;
};

// The TNC keying through `rig`, asked by a GUI for the "list" command.
struct Station {
  Station(const Rigctld& rig, int key_up_ms)
      : kiss_port(free_tcp_port()),
        profile(tnc_config_text(kiss_port, modem.port(), rig.port, key_up_ms, 0)),
        tnc(start_tnc(profile.home())),
        gui(kiss_port, 5000) {
    EXPECT_TRUE(tnc.wait_for_output("Waiting for GUI client", 5000)) << tnc.output();
    sleep_ms(300);
    gui.send_frame("cmd:list");
  }
  ModemListener modem;
  uint16_t kiss_port;
  TncProfile profile;
  ChildProcess tnc;
  KissClient gui;
};

TEST(RigctldLoopback, KeyedDuringTheKeyUpDelayAndUnkeyedAfterwards) {
  if (access(rigctld_path, X_OK) != 0) GTEST_SKIP() << "rigctld is not installed";
  Rigctld rig(true);
  ASSERT_EQ(rig.ptt(), "0");
  Station station(rig, 1500);
  sleep_ms(700);
  EXPECT_EQ(rig.ptt(), "1");
  ASSERT_TRUE(station.modem.receive(3000));
  sleep_ms(air_time_ms(118) + 700);
  EXPECT_EQ(rig.ptt(), "0");
  EXPECT_EQ(station.tnc.output().find("refused"), std::string::npos) << station.tnc.output();
}

TEST(RigctldLoopback, ADaemonWithoutPttRefusesAndIsReported) {
  if (access(rigctld_path, X_OK) != 0) GTEST_SKIP() << "rigctld is not installed";
  Rigctld rig(false);
  Station station(rig, 0);
  ASSERT_TRUE(station.modem.receive(3000));
  for (const char* line : {"] rigctld refused \"T 1\" (RPRT -", "] rigctld refused \"T 0\" (RPRT -"}) {
    EXPECT_TRUE(station.tnc.wait_for_output(line, 3000)) << station.tnc.output();
  }
}

}  // namespace
