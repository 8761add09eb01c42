// Start-up: the profile folder, and the real binary's start-up in a temporary
// HOME: its files and command line, the rigctld check, the ports, what they
// take and what the operator is told about them.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "config/config.hpp"
#include "platform/files.hpp"
#include "platform/net.hpp"
#include "radio/test_bit_stream.hpp"
#include "support/loopback_peers.hpp"
#include "support/process.hpp"
#include "support/tnc_process.hpp"

namespace kestrelis {

namespace {

using namespace std::chrono_literals;

// Success once the TNC has printed `text`; else its output so far. A time-out of 0 looks once.
testing::AssertionResult printed(ChildProcess& tnc, const std::string& text,
                                 int timeout_ms = 5000) {
  if (tnc.wait_for_output(text, timeout_ms)) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "no \"" << text << "\" in:\n" << tnc.output();
}

// How the TNC ended, once it has (within `timeout_ms`).
std::string ending(ChildProcess& tnc, int timeout_ms = 5000) {
  return describe_wait_status(tnc.wait_exit(timeout_ms));
}

// Sends the largest datagram, a clean frame in its last bytes, to `host`;
// true when the TNC saw the frame (the modem port takes such a datagram whole).
bool modem_port_reachable(ChildProcess& tnc, const char* host, uint16_t port) {
  const std::string seen = "Received self-generated packet";
  const size_t before = occurrences(tnc.output(), seen);
  std::vector<uint8_t> datagram(65507 - list_frame.size() - 1, 0x00);
  datagram.insert(datagram.end(), list_frame.begin(), list_frame.end());
  datagram.push_back(0x00);
  EXPECT_TRUE(datagram_send(udp_open().fd(), {*parse_ipv4(host), port}, datagram).ok());
  for (int i = 0; i < 30 && occurrences(tnc.output(), seen) == before; ++i) {
    std::this_thread::sleep_for(50ms);
  }
  return occurrences(tnc.output(), seen) > before;
}

TEST(StartupBinary, FirstStartWritesFolderAndDefaultFile) {
  for (bool folder_there : {false, true}) {
    SCOPED_TRACE(folder_there ? "folder there, file missing" : "first start");
    TncProfile profile;
    if (folder_there) ::mkdir(profile.folder().c_str(), 0700);
    ChildProcess tnc = start_tnc(profile.home());
    // The default file names a rigctld; its check comes after the file is written.
    ASSERT_TRUE(printed(tnc, "Communication check with rigctld"));
    // The folder message has no line end: the time-stamped line follows on the same line.
    const std::regex first_lines(
        std::string(folder_there ? "" : "Created Kestrelis folder in Home directory\\.") +
        "\\[\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] Created default configuration file in " +
        profile.folder() + " \n[\\s\\S]*");
    EXPECT_TRUE(std::regex_match(tnc.output(), first_lines)) << tnc.output();
    EXPECT_EQ(read_file(profile.config_path()), default_config_text());
    struct stat status {};
    ASSERT_EQ(::stat(profile.folder().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
  }
}

// A second start keys nothing without a rigctld Address, leaves the file as it
// is and idles; it notices a silent modem and prints statistics on SIGUSR1.
TEST(StartupBinary, SecondStartIsQuietKeepsTheFileIdlesAndWatchesTheModem) {
  const TncPorts ports;
  const std::string own = ports.ini("ModemSilence = 1\nGR_ReceiveAddress = 127.0.0.1\n") +
                          "[radio]\nCallFrom = QQ0ABC\n[rigctld]\nAddress =\nPort = 4532\n";
  TncProfile profile(own);
  ChildProcess tnc = start_tnc(profile.home());
  // Both threads start after the rigctld check.
  ASSERT_TRUE(printed(tnc, "Waiting for GUI client"));
  ASSERT_TRUE(printed(tnc, "Listening for GNURadio"));
  EXPECT_TRUE(
      printed(tnc, "] No rigctld Address in config.ini: the transmitter is not keyed\n", 0));
  for (const char* absent : {"Created", "Can't load", "Communication check", "HamLib"}) {
    EXPECT_EQ(tnc.output().find(absent), std::string::npos) << absent << " in " << tnc.output();
  }
  EXPECT_EQ(read_file(profile.config_path()), own);
  std::this_thread::sleep_for(200ms);
  const double before = process_stats(tnc.pid()).value().cpu_seconds;
  std::this_thread::sleep_for(1500ms);
  EXPECT_LE(process_stats(tnc.pid()).value().cpu_seconds - before, 0.0101);  // one tick in 1.5 s
  const std::string port = std::to_string(ports.modem);
  EXPECT_TRUE(
      printed(tnc, "] No data from the modem on UDP port " + port + " for 1 s: check the modem\n"));
  const uint8_t noise[] = {0x00, 0x11};
  EXPECT_TRUE(datagram_send(udp_open().fd(), {0x7F000001, ports.modem}, noise).ok());
  EXPECT_TRUE(printed(tnc, "] Data from the modem again on UDP port " + port + "\n"));
  ASSERT_EQ(::kill(tnc.pid(), SIGUSR1), 0);
  EXPECT_TRUE(printed(tnc, "] Statistics: packets 0 telemetry"));
  EXPECT_EQ(describe_wait_status(tnc.stop(SIGTERM, 5000)), "ended by SIGTERM");
}

// A wrong option, and a config file the operator named: one that cannot be
// read is named with the reason and ends the TNC, --unkey included, rather
// than run on the built-in settings; one that can be read is used as it is.
// Neither creates anything in the profile.
TEST(StartupBinary, CommandLine) {
  TncProfile profile;
  ChildProcess bogus = start_tnc(profile.home(), {"--bogus"});
  EXPECT_EQ(ending(bogus), "exit status 2");
  EXPECT_TRUE(printed(bogus, "Usage: kestrelis-tnc [--config FILE]", 0));

  TempDir dir;
  const std::pair<std::string, std::string> files[] = {
      {dir.path() + "/missing.ini", "No such file or directory"},
      {dir.path(), "not a regular file"},
  };
  for (const auto& [file, reason] : files) {
    for (const bool unkey : {false, true}) {
      SCOPED_TRACE(file + (unkey ? " --unkey" : ""));
      std::vector<std::string> args = {"--config", file};
      if (unkey) args.emplace_back("--unkey");
      ChildProcess tnc = start_tnc(profile.home(), args);
      EXPECT_EQ(ending(tnc), "exit status 2");
      EXPECT_EQ(tnc.output(), "Can't load '" + file + "': " + reason + "\n");
    }
  }

  const TncPorts ports;
  const std::string file = dir.path() + "/station.ini";
  ASSERT_TRUE(write_text_file(file, ports.ini()).ok());
  ChildProcess tnc = start_tnc(profile.home(), {"--config", file});
  EXPECT_TRUE(
      printed(tnc, "Waiting for GUI client on TCP 127.0.0.1:" + std::to_string(ports.kiss)));
  EXPECT_NE(::access(profile.folder().c_str(), F_OK), 0);
}

// A service manager's stop command after a TNC that crashed while keyed:
// the off command goes out once, whatever the TNC left behind.
TEST(StartupBinary, UnkeyOnlySendsTheOffCommandOnce) {
  for (const auto& [answer, status, line] :
       {std::tuple{"RPRT 0\n", "exit status 0", "Transmitter unkeyed: rigctld took \"T 0\""},
        std::tuple{"RPRT -1\n", "exit status 1", "Unkeying failed at exit"}}) {
    SCOPED_TRACE(line);
    const FakeRigctld rig(answer);
    TncProfile profile(TncPorts().ini() + "[rigctld]\nAddress = 127.0.0.1\nPort = " +
                       std::to_string(rig.port()) + "\nKeyDownDelay = 0\n");
    ChildProcess unkey = start_tnc(profile.home(), {"--unkey"});
    EXPECT_EQ(ending(unkey, 10000), status);
    EXPECT_TRUE(printed(unkey, line, 0));
    ASSERT_EQ(rig.commands().size(), 1u);
    EXPECT_EQ(rig.commands()[0].bytes, "T 0");
  }
  TncProfile no_rig(TncPorts().ini());
  ChildProcess unkey = start_tnc(no_rig.home(), {"--unkey"});
  EXPECT_EQ(ending(unkey), "exit status 0");
}

// A rigctld that is not there holds the start-up at most a few seconds and is
// named; a signal meanwhile ends the process at once: nothing is keyed yet.
TEST(StartupBinary, RigctldCheckIsBoundedNamesWhereItLookedAndIsInterruptible) {
  const FakeRigctld stalled(RigMode::unresponsive);
  const std::string refusing = std::to_string(free_tcp_port());
  const std::pair<std::string, std::string> cases[] = {
      {"127.0.0.1\nPort = " + std::to_string(stalled.port()),
       "] Could not connect to HamLib RIG Control Daemon. Start it first!\n"},
      {"127.0.0.1\nPort = " + refusing,
       "] rigctld looked for at 127.0.0.1 port " + refusing + ": Connection refused\n"},
      {"no-such-host.invalid\nPort = 4532", "\ngetaddrinfo failed with error: "}};
  for (const auto& [address, text] : cases) {
    SCOPED_TRACE(address);
    TncProfile profile(TncPorts().ini() + "[rigctld]\nAddress = " + address + "\n");
    const auto started = std::chrono::steady_clock::now();
    ChildProcess tnc = start_tnc(profile.home());
    ASSERT_TRUE(printed(tnc, text, 8000));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 4s);
    EXPECT_EQ(tnc.wait_exit(300), -1);  // still running
  }
  TncProfile profile(TncPorts().ini() + "[rigctld]\nAddress = " + cases[0].first + "\n");
  ChildProcess tnc = start_tnc(profile.home());
  ASSERT_TRUE(printed(tnc, "Communication check with rigctld"));
  // Statistics asked for during start-up wait for the main loop: the TNC runs on.
  ASSERT_EQ(::kill(tnc.pid(), SIGUSR1), 0);
  EXPECT_EQ(tnc.wait_exit(200), -1);
  const auto stopped = std::chrono::steady_clock::now();
  EXPECT_EQ(describe_wait_status(tnc.stop(SIGTERM, 5000)), "ended by SIGTERM");
  EXPECT_LT(std::chrono::steady_clock::now() - stopped, 1s);
}

// The only test that uses the in-code ports 53010, 53011 and 53013: once with
// a profile that cannot be written, once with an empty HOME, which names no profile.
TEST(StartupBinary, InCodeDefaultPortsWhenNoneAreSet) {
  NetResult modem = udp_bind("127.0.0.1", 53011, 0);
  ASSERT_TRUE(modem.status.ok()) << "port 53011 is taken";
  TncProfile unwritable;
  const std::string missing = unwritable.home() + "/no/such/dir";
  const std::pair<std::string, std::string> cases[] = {
      {missing, "Cannot create folder " + missing + "/Kestrelis"},
      {"", "Neither USERPROFILE nor HOME is set; using the built-in settings\n"}};
  for (const auto& [home, said] : cases) {
    SCOPED_TRACE(said);
    ChildProcess tnc = start_tnc(home);
    ASSERT_TRUE(printed(tnc, "Listening for GNURadio on UDP 127.0.0.1:53010\r\n"));
    ASSERT_TRUE(printed(tnc, "Waiting for GUI client on TCP 127.0.0.1:53013\n"));
    EXPECT_TRUE(printed(tnc, said, 0));
    EXPECT_EQ(occurrences(tnc.output(), "Can't load 'config.ini'\n"), home.empty() ? 0u : 1u);
    // An uplink command reaches the modem at 127.0.0.1:53011.
    KissClient gui(53013, 5000);
    ASSERT_TRUE(gui.send_frame("cmd:list"));
    ASSERT_TRUE(wait_readable(modem.socket.fd(), 5000));
    std::vector<uint8_t> datagram(1024);
    EXPECT_EQ(datagram_receive(modem.socket.fd(), datagram), 50 + 48);
    EXPECT_EQ(tnc.wait_exit(100), -1);  // still running
  }
}

// 127.0.0.2 reaches the machine itself, but not a socket bound to 127.0.0.1.
// An address that does not parse must close the ports, never open them wide;
// open ports are named with a warning.
TEST(StartupBinary, BoundPortsAreNamedAndRefuseOtherAddresses) {
  // The address set, and the one host that reaches the ports ("": both).
  const std::pair<std::string, std::string> cases[] = {{"", ""},
                                                       {"127.0.0.2", "127.0.0.2"},
                                                       {"localhost", "127.0.0.1"},
                                                       {"127.0.0.1#gui", "127.0.0.1"}};
  for (const auto& [set, bound] : cases) {
    SCOPED_TRACE(set.empty() ? "all interfaces by default" : set);
    const TncPorts ports;
    const std::string kiss = std::to_string(ports.kiss);
    const std::string modem = std::to_string(ports.modem);
    const std::string shown = bound.empty() ? "127.0.0.1" : bound;
    TncProfile profile(
        ports.ini("GR_ReceiveAddress = " + set + "\n", "KISS_Address = " + set + "\n"));
    ChildProcess tnc = start_tnc(profile.home());
    ASSERT_TRUE(printed(tnc, "Waiting for GUI client on TCP " + shown + ":" + kiss));
    ASSERT_TRUE(printed(tnc, "Listening for GNURadio on UDP " + shown + ":" + modem));
    for (const char* host : {"127.0.0.1", "127.0.0.2"}) {
      SCOPED_TRACE(host);
      const bool reachable = bound.empty() || bound == host;
      EXPECT_EQ(tcp_connect(host, kiss.c_str(), 1000).status.ok(), reachable);
      EXPECT_EQ(modem_port_reachable(tnc, host, ports.modem), reachable) << tnc.output();
    }
    // The warning follows the waiting line from another thread: read the
    // output only once the TNC has ended.
    tnc.stop(SIGTERM, 5000);
    const std::string open = " is open on all interfaces: anyone who can reach it can ";
    for (const std::string& warning : {"GUI port " + kiss + open + "transmit",
                                       "Modem port " + modem + open + "feed in frames"}) {
      EXPECT_EQ(occurrences(tnc.output(), warning), bound.empty() ? 1u : 0u) << warning;
    }
  }
}

// A port another program holds: the GUI port is named at the default level and
// the TNC runs on; the modem port is named and the TNC ends with status 1.
TEST(StartupBinary, TakenPortsAreNamed) {
  const TncPorts ports;
  NetResult gui_holder = tcp_listen("127.0.0.1", ports.kiss);
  NetResult modem_holder = udp_bind("", ports.modem, 0);
  ASSERT_TRUE(gui_holder.status.ok() && modem_holder.status.ok());
  TncProfile profile(ports.ini("StreamRecording = 1\n"));
  const std::string unavailable = " unavailable (Address already in use)";
  ChildProcess tnc = start_tnc(profile.home());
  EXPECT_EQ(ending(tnc), "exit status 1") << tnc.output();
  EXPECT_TRUE(printed(tnc, "Bind failed with error code : 98\n[", 0));
  EXPECT_TRUE(printed(tnc, "] Modem port " + std::to_string(ports.modem) + unavailable, 0));
  // A service restarting it every few seconds must not leave a file per start.
  EXPECT_TRUE(printed(tnc, "Recording the modem's datagrams to", 0));
  EXPECT_EQ(regular_file_names(profile.folder() + "/recordings"), std::vector<std::string>{});

  modem_holder.socket.close();
  ChildProcess running = start_tnc(profile.home());
  const std::string gui_line = "] GUI port " + std::to_string(ports.kiss) + unavailable;
  EXPECT_TRUE(printed(running, gui_line + ": no GUI can connect\n"));
  EXPECT_TRUE(printed(running, "Listening for GNURadio"));
  EXPECT_EQ(running.wait_exit(200), -1);  // runs on without a GUI port
}

}  // namespace

}  // namespace kestrelis
