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
  explicit Rigctld(bool with_ptt)
      : port(free_tcp_port()),
        process(with_ptt ? std::vector<std::string>{rigctld_path, "-m", "1", "-P", "RIG", "-T",
                                                    "127.0.0.1", "-t", std::to_string(port)}
                         : std::vector<std::string>{rigctld_path, "-m", "1", "-T", "127.0.0.1",
                                                    "-t", std::to_string(port)},
                {}) {
    for (int i = 0; i < 100 && !listening(); ++i) sleep_ms(20);
    sleep_ms(300);  // the daemon stalls on connections that arrive back to back
  }
  ~Rigctld() { process.stop(SIGTERM, 2000); }
  bool listening() const {
    return tcp_connect("127.0.0.1", std::to_string(port).c_str(), 200).failed_at == NetStep::none;
  }
  // The PTT state, asked on a connection of its own: "0" or "1".
  std::string ptt() const {
    NetResult c = tcp_connect("127.0.0.1", std::to_string(port).c_str(), 1000);
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

TEST(RigctldLoopback, KeyedDuringTheKeyUpDelayAndUnkeyedAfterwards) {
  if (access(rigctld_path, X_OK) != 0) GTEST_SKIP() << "rigctld is not installed";
  Rigctld rig(true);
  ASSERT_EQ(rig.ptt(), "0");
  ModemListener modem;
  const uint16_t kiss_port = free_tcp_port();
  TncProfile profile(tnc_config_text(kiss_port, modem.port(), rig.port, 1500, 0));
  ChildProcess tnc = start_tnc(profile.home());
  ASSERT_TRUE(tnc.wait_for_output("Waiting for GUI client", 5000));
  sleep_ms(300);
  KissClient gui(kiss_port, 3000);
  gui.send_frame("cmd:list");
  sleep_ms(700);
  EXPECT_EQ(rig.ptt(), "1");
  ASSERT_TRUE(modem.receive(3000));
  sleep_ms(air_time_ms(118) + 700);
  EXPECT_EQ(rig.ptt(), "0");
  EXPECT_EQ(tnc.output().find("refused"), std::string::npos) << tnc.output();
}

TEST(RigctldLoopback, ADaemonWithoutPttRefusesAndIsReported) {
  if (access(rigctld_path, X_OK) != 0) GTEST_SKIP() << "rigctld is not installed";
  Rigctld rig(false);
  ModemListener modem;
  const uint16_t kiss_port = free_tcp_port();
  TncProfile profile(tnc_config_text(kiss_port, modem.port(), rig.port, 0, 0));
  ChildProcess tnc = start_tnc(profile.home());
  ASSERT_TRUE(tnc.wait_for_output("Waiting for GUI client", 5000));
  sleep_ms(300);
  KissClient gui(kiss_port, 3000);
  gui.send_frame("cmd:list");
  ASSERT_TRUE(modem.receive(3000));
  EXPECT_TRUE(tnc.wait_for_output("] rigctld refused \"T 1\" (RPRT -", 2000)) << tnc.output();
  EXPECT_TRUE(tnc.wait_for_output("] rigctld refused \"T 0\" (RPRT -", 3000)) << tnc.output();
}

}  // namespace
