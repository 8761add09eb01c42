// Start-up: the profile folder, and the real binary's start-up in a temporary
// HOME: its files and command line, the rigctld check, the ports, what they
// take and what the operator is told about them.

#include "app/startup.hpp"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <optional>
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

struct Ports {
  uint16_t modem = free_udp_port();
  uint16_t kiss = free_tcp_port();
  std::string ini(const std::string& modem_extra = "", const std::string& kiss_extra = "") const {
    return "[modem]\nGR_ReceivePort = " + std::to_string(modem) +
           "\nGR_TransmitPort = " + std::to_string(free_udp_port()) + "\n" + modem_extra +
           "[KISS]\nKISS_Port = " + std::to_string(kiss) + "\n" + kiss_extra;
  }
};

// A TCP listener on 127.0.0.1 whose accept queue is full, so that a further
// connect is never answered.
struct StalledListener {
  StalledListener() {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener.fd(), reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    ::listen(listener.fd(), 0);
    port = local_port(listener.fd());
    sa.sin_port = htons(port);
    for (Socket& c : fillers) {
      c = Socket(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
      ::connect(c.fd(), reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    }
  }
  Socket listener{::socket(AF_INET, SOCK_STREAM, 0)};
  std::array<Socket, 4> fillers;
  uint16_t port = 0;
};

size_t count_of(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Sends the largest datagram, a clean frame in its last bytes, to `host`;
// true when the TNC saw the frame (the modem port takes such a datagram whole).
bool modem_port_reachable(ChildProcess& tnc, const char* host, uint16_t port) {
  const std::string seen = "Received self-generated packet";
  const size_t before = count_of(tnc.output(), seen);
  std::vector<uint8_t> datagram(65507 - list_frame.size() - 1, 0x00);
  datagram.insert(datagram.end(), list_frame.begin(), list_frame.end());
  datagram.push_back(0x00);
  EXPECT_EQ(datagram_send(udp_open().fd(), {*parse_ipv4(host), port}, datagram), 0);
  for (int i = 0; i < 30; ++i) {
    if (count_of(tnc.output(), seen) > before) return true;
    std::this_thread::sleep_for(50ms);
  }
  return false;
}

TEST(StartupBinary, FirstStartWritesFolderAndDefaultFile) {
  for (bool folder_there : {false, true}) {
    SCOPED_TRACE(folder_there ? "folder there, file missing" : "first start");
    TncProfile profile;
    if (folder_there) ::mkdir(profile.folder().c_str(), 0700);
    ChildProcess tnc = start_tnc(profile.home());
    // The default file names a rigctld; its check comes after the file is written.
    ASSERT_TRUE(tnc.wait_for_output("Communication check with rigctld", 5000)) << tnc.output();
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

TEST(StartupBinary, SecondStartWithEmptyAddressIsQuietKeepsTheFileAndIdles) {
  const std::string own =
      free_ports_config() + "[radio]\nCallFrom = QQ0ABC\n[rigctld]\nAddress =\nPort = 4532\n";
  TncProfile profile(own);
  ChildProcess tnc = start_tnc(profile.home());
  // Both threads start after the rigctld check.
  ASSERT_TRUE(tnc.wait_for_output("Waiting for GUI client", 5000)) << tnc.output();
  ASSERT_TRUE(tnc.wait_for_output("Listening for GNURadio", 5000)) << tnc.output();
  EXPECT_NE(tnc.output().find("] No rigctld Address in config.ini: the transmitter is not keyed\n"),
            std::string::npos);
  for (const char* absent : {"Created", "Can't load", "Communication check", "HamLib"}) {
    EXPECT_EQ(tnc.output().find(absent), std::string::npos) << absent << " in " << tnc.output();
  }
  EXPECT_EQ(read_file(profile.config_path()), own);
  std::this_thread::sleep_for(200ms);
  const double before = process_stats(tnc.pid()).value().cpu_seconds;
  std::this_thread::sleep_for(1500ms);
  EXPECT_LE(process_stats(tnc.pid()).value().cpu_seconds - before, 0.0101);  // one tick in 1.5 s
  const int status = tnc.stop(SIGTERM, 5000);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
}

TEST(StartupBinary, CommandLine) {
  TncProfile profile;
  ChildProcess bogus = start_tnc(profile.home(), {"--bogus"});
  const int status = bogus.wait_exit(5000);
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

// The operator named the file: a failure to read it names it too.
TEST(Startup, AConfigFileGivenThatCannotBeReadIsNamed) {
  std::string printed;
  const Console console{1, [&printed](std::string_view text) { printed += text; }};
  const std::string file = "/nonexistent/kestrelis/station.ini";
  const TncConfig config = load_configuration_file(console, file, file);
  EXPECT_EQ(printed, "Can't load '" + file + "'\n");
  EXPECT_EQ(config.KISS_Port, TncConfig{}.KISS_Port);
}

// A rigctld that is not there holds the start-up at most a few seconds and is
// named; a signal meanwhile ends the process at once: nothing is keyed yet.
TEST(StartupBinary, RigctldCheckIsBoundedNamesWhereItLookedAndIsInterruptible) {
  StalledListener stalled;
  const std::string refusing = std::to_string(free_tcp_port());
  const std::pair<std::string, std::string> cases[] = {
      {"127.0.0.1\nPort = " + std::to_string(stalled.port),
       "] Could not connect to HamLib RIG Control Daemon. Start it first!\n"},
      {"127.0.0.1\nPort = " + refusing,
       "] rigctld looked for at 127.0.0.1 port " + refusing + ": Connection refused\n"},
      {"no-such-host.invalid\nPort = 4532", "\ngetaddrinfo failed with error: "}};
  for (const auto& [address, text] : cases) {
    SCOPED_TRACE(address);
    TncProfile profile(free_ports_config() + "[rigctld]\nAddress = " + address + "\n");
    const auto started = std::chrono::steady_clock::now();
    ChildProcess tnc = start_tnc(profile.home());
    ASSERT_TRUE(tnc.wait_for_output(text, 8000)) << tnc.output();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 4s);
    EXPECT_EQ(tnc.wait_exit(300), -1);  // still running
  }
  TncProfile profile(free_ports_config() + "[rigctld]\nAddress = " + cases[0].first + "\n");
  ChildProcess tnc = start_tnc(profile.home());
  ASSERT_TRUE(tnc.wait_for_output("Communication check with rigctld", 5000)) << tnc.output();
  // Statistics asked for during start-up wait for the main loop: the TNC runs on.
  ASSERT_EQ(::kill(tnc.pid(), SIGUSR1), 0);
  EXPECT_EQ(tnc.wait_exit(200), -1);
  const auto stopped = std::chrono::steady_clock::now();
  const int status = tnc.stop(SIGTERM, 5000);
  EXPECT_LT(std::chrono::steady_clock::now() - stopped, 1s);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
}

// The only test that uses the in-code ports 53010, 53011 and 53013: once with
// a profile that cannot be written, once with a file that sets no port.
TEST(StartupBinary, InCodeDefaultPortsWhenNoneAreSet) {
  NetResult modem = udp_bind("127.0.0.1", 53011, 0);
  ASSERT_EQ(modem.failed_at, NetStep::none) << "port 53011 is taken";
  TncProfile unwritable;
  TncProfile no_ports("[radio]\nCallFrom = QQ0ABC\n[rigctld]\nAddress =\n");
  const std::string missing = unwritable.home() + "/no/such/dir";
  for (const std::string& home : {missing, no_ports.home()}) {
    SCOPED_TRACE(home);
    ChildProcess tnc = start_tnc(home);
    ASSERT_TRUE(tnc.wait_for_output("Listening for GNURadio on UDP 127.0.0.1:53010\r\n", 5000))
        << tnc.output();
    ASSERT_TRUE(tnc.wait_for_output("Waiting for GUI client on TCP 127.0.0.1:53013\n", 5000))
        << tnc.output();
    if (home == missing) {
      EXPECT_NE(tnc.output().find("Cannot create folder " + missing + "/Kestrelis"),
                std::string::npos);
      EXPECT_NE(tnc.output().find("Can't load 'config.ini'\n"), std::string::npos);
    }
    // An uplink command reaches the modem at 127.0.0.1:53011.
    KissClient gui(53013, 5000);
    ASSERT_TRUE(gui.connected());
    gui.send_frame("cmd:list");
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
  const struct {
    std::string address;
    std::string bound;  // the one host that reaches the ports, named in the listening lines
  } cases[] = {{"", ""},
               {"127.0.0.2", "127.0.0.2"},
               {"localhost", "127.0.0.1"},
               {"127.0.0.1#gui", "127.0.0.1"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address.empty() ? "all interfaces by default" : c.address);
    const Ports ports;
    const std::string kiss = std::to_string(ports.kiss);
    const std::string address = "Address = " + c.address + "\n";
    const std::string shown = c.bound.empty() ? "127.0.0.1" : c.bound;
    TncProfile profile(ports.ini("GR_Receive" + address, "KISS_" + address));
    ChildProcess tnc = start_tnc(profile.home());
    ASSERT_TRUE(tnc.wait_for_output("Waiting for GUI client on TCP " + shown + ":" + kiss, 5000))
        << tnc.output();
    ASSERT_TRUE(tnc.wait_for_output(
        "Listening for GNURadio on UDP " + shown + ":" + std::to_string(ports.modem), 5000))
        << tnc.output();
    for (const char* host : {"127.0.0.1", "127.0.0.2"}) {
      SCOPED_TRACE(host);
      const bool reachable = c.bound.empty() || c.bound == host;
      EXPECT_EQ(tcp_connect(host, kiss.c_str(), 1000).failed_at == NetStep::none, reachable);
      EXPECT_EQ(modem_port_reachable(tnc, host, ports.modem), reachable) << tnc.output();
    }
    // The warning follows the waiting line from another thread: read the
    // output only once the TNC has ended.
    tnc.stop(SIGTERM, 5000);
    EXPECT_EQ(tnc.output().find("GUI port " + kiss +
                                " is open on all interfaces: anyone who can reach it can "
                                "transmit") != std::string::npos,
              c.bound.empty())
        << tnc.output();
    EXPECT_EQ(tnc.output().find("Modem port " + std::to_string(ports.modem) +
                                " is open on all interfaces: anyone who can reach it can feed in "
                                "frames") != std::string::npos,
              c.bound.empty())
        << tnc.output();
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
  EXPECT_NE(tnc.output().find("Bind failed with error code : 98\n["), std::string::npos)
      << tnc.output();
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

TEST(Startup, ProfileDirectoryIsUserProfileThenHomeAndNeverEmpty) {
  // USERPROFILE, HOME (null: unset), the folder: the user profile wins, an empty one is none.
  const std::tuple<const char*, const char*, std::optional<std::string>> cases[] = {
      {"/p", "/h", "/p"},
      {nullptr, "/h", "/h"},
      {"", "/h", "/h"},
      {"", "", {}},
      {nullptr, nullptr, std::nullopt}};
  const std::optional<std::string> saved_home = env_var("HOME");
  const std::optional<std::string> saved_profile = env_var("USERPROFILE");
  auto set = [](const char* name, const char* value) {
    return value != nullptr ? ::setenv(name, value, 1) : ::unsetenv(name);
  };
  for (const auto& [userprofile, home, expected] : cases) {
    set("USERPROFILE", userprofile);
    set("HOME", home);
    EXPECT_EQ(profile_directory(), expected)
        << (userprofile ? userprofile : "unset") << ", " << (home ? home : "unset");
  }
  set("HOME", saved_home ? saved_home->c_str() : nullptr);
  set("USERPROFILE", saved_profile ? saved_profile->c_str() : nullptr);
}

}  // namespace

}  // namespace kestrelis
