// What the real binary tells the operator about its ports, its command line,
// rigctld and a silent modem.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "platform/files.hpp"
#include "platform/net.hpp"
#include "support/loopback_peers.hpp"
#include "support/tnc_process.hpp"

namespace kestrelis {

namespace {

struct Ports {
  uint16_t modem = free_udp_port();
  uint16_t kiss = free_tcp_port();
  std::string ini(const std::string& modem_extra = "", const std::string& kiss_extra = "") const {
    return "[modem]\nGR_ReceivePort = " + std::to_string(modem) +
           "\nGR_TransmitPort = " + std::to_string(free_udp_port()) + "\n" + modem_extra +
           "[KISS]\nKISS_Port = " + std::to_string(kiss) + "\n" + kiss_extra;
  }
};

TEST(StartupBinary, ListeningLinesNameTheBoundAddress) {
  struct Case {
    const char* name;
    const char* kiss_address;
    const char* waiting;
    bool warned;
  };
  const Case cases[] = {
      {"bound", "KISS_Address = 127.0.0.2\n", "Waiting for GUI client on TCP 127.0.0.2:", false},
      {"all interfaces", "", "Waiting for GUI client on TCP 127.0.0.1:", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Ports ports;
    TncProfile profile(ports.ini("GR_ReceiveAddress = 127.0.0.3\n", c.kiss_address));
    ChildProcess tnc = start_tnc(profile.home());
    ASSERT_TRUE(tnc.wait_for_output("Listening for GNURadio", 5000)) << tnc.output();
    ASSERT_TRUE(tnc.wait_for_output(c.waiting + std::to_string(ports.kiss), 5000)) << tnc.output();
    EXPECT_NE(tnc.output().find("on UDP 127.0.0.3:" + std::to_string(ports.modem)),
              std::string::npos);
    // The warning follows the waiting line from another thread: read the
    // output only once the TNC has ended.
    tnc.stop(SIGTERM, 5000);
    const std::string warning = "GUI port " + std::to_string(ports.kiss) +
                                " is open on all interfaces: anyone who can reach it can transmit";
    EXPECT_EQ(tnc.output().find(warning) != std::string::npos, c.warned) << tnc.output();
  }
}

// A port another program holds: the GUI port is named at the default level and
// the TNC runs on; the modem port is named and the TNC ends with status 1.
TEST(StartupBinary, TakenPortsAreNamed) {
  const Ports ports;
  NetResult gui_holder = tcp_listen("127.0.0.1", ports.kiss);
  NetResult modem_holder = udp_bind("", ports.modem, 0);
  ASSERT_EQ(gui_holder.failed_at, NetStep::none);
  ASSERT_EQ(modem_holder.failed_at, NetStep::none);
  TncProfile profile(ports.ini());
  ChildProcess tnc = start_tnc(profile.home());
  const int status = tnc.wait_exit(5000);
  ASSERT_TRUE(WIFEXITED(status)) << tnc.output();
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_NE(tnc.output().find("Bind failed with error code : 98\n["), std::string::npos);
  EXPECT_NE(tnc.output().find("] Modem port " + std::to_string(ports.modem) +
                              " unavailable (Address already in use)"),
            std::string::npos)
      << tnc.output();

  modem_holder.socket.close();
  ChildProcess running = start_tnc(profile.home());
  EXPECT_TRUE(running.wait_for_output("] GUI port " + std::to_string(ports.kiss) +
                                          " unavailable (Address already in use): no GUI can "
                                          "connect\n",
                                      5000))
      << running.output();
  EXPECT_TRUE(running.wait_for_output("Listening for GNURadio", 5000));
  EXPECT_EQ(running.wait_exit(200), -1);  // runs on without a GUI port
}

TEST(StartupBinary, CommandLine) {
  TncProfile profile;
  ChildProcess bogus = start_tnc(profile.home(), {"--bogus"});
  int status = bogus.wait_exit(5000);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2);
  EXPECT_NE(bogus.output().find("Usage: kestrelis-tnc [--config FILE]"), std::string::npos);

  // --config reads the given file as it is and creates nothing in the profile.
  const Ports ports;
  TempDir elsewhere;
  const std::string file = elsewhere.path() + "/station.ini";
  ASSERT_EQ(write_text_file(file, ports.ini()), 0);
  ChildProcess tnc = start_tnc(profile.home(), {"--config", file});
  EXPECT_TRUE(tnc.wait_for_output(
      "Waiting for GUI client on TCP 127.0.0.1:" + std::to_string(ports.kiss), 5000))
      << tnc.output();
  EXPECT_NE(::access(profile.folder().c_str(), F_OK), 0);
  EXPECT_EQ(tnc.output().find("Created"), std::string::npos);
}

TEST(StartupBinary, RigctldWhereaboutsAndKeyingOff) {
  const Ports ports;
  const uint16_t nobody = free_tcp_port();
  TncProfile refused(ports.ini() +
                     "[rigctld]\nAddress = 127.0.0.1\nPort = " + std::to_string(nobody) + "\n");
  ChildProcess tnc = start_tnc(refused.home());
  EXPECT_TRUE(tnc.wait_for_output("Start it first!\n", 5000)) << tnc.output();
  EXPECT_TRUE(tnc.wait_for_output(
      "] rigctld looked for at 127.0.0.1 port " + std::to_string(nobody) + ": Connection refused\n",
      5000))
      << tnc.output();

  const Ports other;
  TncProfile no_keying(other.ini() + "[rigctld]\nAddress =\n");
  ChildProcess quiet = start_tnc(no_keying.home());
  EXPECT_TRUE(quiet.wait_for_output(
      "] No rigctld Address in config.ini: the transmitter is not keyed\n", 5000))
      << quiet.output();
}

TEST(StartupBinary, SilentModemIsNoticed) {
  const Ports ports;
  TncProfile profile(ports.ini("ModemSilence = 1\nGR_ReceiveAddress = 127.0.0.1\n"));
  ChildProcess tnc = start_tnc(profile.home());
  const std::string port = std::to_string(ports.modem);
  ASSERT_TRUE(tnc.wait_for_output(
      "] No data from the modem on UDP port " + port + " for 1 s: check the modem\n", 5000))
      << tnc.output();
  const uint8_t noise[] = {0x00, 0x11};
  EXPECT_EQ(datagram_send(udp_open().fd(), {0x7F000001, ports.modem}, noise), 0);
  EXPECT_TRUE(tnc.wait_for_output("] Data from the modem again on UDP port " + port + "\n", 5000))
      << tnc.output();
}

}  // namespace

}  // namespace kestrelis
