// The uplink where the golden transcript cannot see it: requests of several
// clients taking turns, requests whose client left, termination while keyed,
// and clients that come and go. The keying waits are timed in tests/keying.

#include "app/uplink.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <thread>

#include "platform/clock.hpp"
#include "support/loopback_peers.hpp"
#include "support/station_capture.hpp"
#include "support/tnc_process.hpp"

namespace kestrelis {

namespace {

using Bytes = std::vector<uint8_t>;

// A station whose GUI link and transmit thread serve a loopback port, its
// console captured and its modem a listener.
class LinkedStation {
 public:
  LinkedStation(int max_clients, int key_up_ms)
      : station(config(modem_.port(), max_clients, key_up_ms), Console{.sink = lines_.sink()}),
        listener_(tcp_listen("127.0.0.1", 0).socket) {
    open_transmit_socket(station.transmitter);
    serve_thread_ = std::thread([this] { station.gui.serve(listener_.fd()); });
    uplink_thread_ = std::thread([this] { uplink_thread(station); });
  }
  LinkedStation(const LinkedStation&) = delete;
  LinkedStation& operator=(const LinkedStation&) = delete;
  ~LinkedStation() {
    station.gui.stop();
    serve_thread_.join();
    uplink_thread_.join();
  }

  uint16_t port() const { return local_port(listener_.fd()); }
  ModemListener& modem() { return modem_; }
  size_t count(std::string_view text) const { return lines_.count(text); }
  bool wait_for(std::string_view text, size_t n, int timeout_ms) const {
    return lines_.wait_for(text, n, timeout_ms);
  }

 private:
  static TncConfig config(uint16_t modem_port, int max_clients, int key_up_ms) {
    TncConfig c;
    c.GR_TransmitPort = modem_port;
    c.MaxClients = max_clients;
    c.KeyUpDelay = std::chrono::milliseconds(key_up_ms);
    c.CallFrom = "QQ0ABC";
    c.PreambleLength = 4;
    c.VerboseLevel = 4;
    return c;
  }

  CapturedLines lines_;
  ModemListener modem_;

 public:
  Station station;

 private:
  Socket listener_;
  std::thread serve_thread_;
  std::thread uplink_thread_;
};

// Refusals in the operator's words where the golden transcript does not show
// them: the console line, and the GUI's text without its line end.
TEST(Uplink, RefusalsInTheOperatorsWords) {
  const std::pair<Refusal, std::string> cases[] = {
      {{.kind = RefusalKind::unknown_command, .value = "\x1B[2J\x07\xC0"},  // no terminal control
       "Unknown command \"\\x1b[2J\\x07\\xc0\""},
      {{.kind = RefusalKind::improper_callsign}, "Improper callsign\n"},
  };
  for (const auto& [refusal, console] : cases) {
    SCOPED_TRACE(console);
    const std::vector<RefusalLine> lines = refusal_lines(refusal);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].console, console);
    EXPECT_TRUE(lines[0].console == lines[0].gui || lines[0].console == lines[0].gui + "\n");
  }
}

const std::string request_head = "QQ0ABC>QQ0XYZ, Kestrelis, STORE=0 ";

TEST(UplinkLoopback, TwoClientsRequestsTakeTurnsInArrivalOrderEachWithItsOwnReplies) {
  LinkedStation s(2, 300);
  KissClient a(s.port(), 2000);
  ASSERT_TRUE(s.wait_for("GUI connected.", 1, 3000));
  // A client that connects while another is connected is served at once.
  const int64_t start = monotonic_ns();
  KissClient b(s.port(), 2000);
  b.send_frame("cmd:bogus");
  KissReader b_replies(b.fd());
  ASSERT_EQ(b_replies.next(3000), "Unknown command \"bogus\"");
  std::printf("[ measured ] second client connected and answered after %.2f ms\n",
              static_cast<double>(monotonic_ns() - start) / 1e6);

  a.send_frame(request_head + "from a");
  ASSERT_TRUE(s.wait_for("Finished reading KISS packet", 2, 3000));
  b.send_frame(request_head + "from b, a longer one");
  b.send_frame("cmd:abcdefghijklmnopqrstu");
  // The frames of the two requests, in the order they arrived: a's is shorter.
  const std::optional<Datagram> first = s.modem().receive(5000);
  const std::optional<Datagram> second = s.modem().receive(5000);
  ASSERT_TRUE(first && second);
  EXPECT_LT(first->bytes.size(), second->bytes.size());
  ASSERT_TRUE(s.wait_for("Command string too long", 1, 3000));

  KissReader a_replies(a.fd());
  EXPECT_EQ(a_replies.next(3000), "Transmitted: " + request_head + "from a");
  EXPECT_EQ(b_replies.next(3000), "Transmitted: " + request_head + "from b, a longer one");
  EXPECT_EQ(b_replies.next(3000), "Command string too long");
  EXPECT_FALSE(a_replies.next(300));  // nothing of b's
  EXPECT_EQ(s.count("Transmission to Kestrelis"), 2u);
}

TEST(UplinkLoopback, ARequestWaitingBehindATransmissionIsDroppedWhenItsClientLeaves) {
  LinkedStation s(2, 1000);
  KissClient a(s.port(), 2000);
  KissClient b(s.port(), 2000);
  ASSERT_TRUE(s.wait_for("GUI connected.", 2, 3000));
  a.send_frame("cmd:list");
  ASSERT_TRUE(s.wait_for("Finished reading KISS packet", 1, 3000));
  b.send_frame("cmd:count");
  ASSERT_TRUE(s.wait_for("Finished reading KISS packet", 2, 3000));
  b.close();
  ASSERT_TRUE(
      s.wait_for("Request from GUI client 2 dropped: the client left before its turn", 1, 3000));
  EXPECT_TRUE(s.modem().receive(5000));  // a's
  EXPECT_FALSE(s.modem().receive(1500));
  EXPECT_EQ(s.count("dropped"), 1u);
}

// A script that sends one line and closes at once, again and again.
TEST(UplinkLoopback, AClientThatSendsOneRequestAndClosesHasItTransmitted) {
  LinkedStation s(1, 0);
  for (int round = 1; round <= 3; ++round) {
    SCOPED_TRACE(round);
    {
      KissClient script(s.port(), 2000);
      script.send_frame("cmd:list");
    }
    const std::optional<Datagram> frame = s.modem().receive(5000);
    ASSERT_TRUE(frame);
    ASSERT_TRUE(s.wait_for("GUI disconnected", static_cast<size_t>(round), 3000));
    // The next script comes once the transmitter is free again.
    sleep_ms(air_time_ms(frame->bytes.size()) + 1000);
  }
  EXPECT_EQ(s.count("dropped"), 0u);
}

// A running TNC wired to `modem` and a rigctld at `rig_port`, with a GUI connected.
struct RunningTnc {
  RunningTnc(const ModemListener& modem, uint16_t rig_port, int key_up_ms)
      : kiss_port(free_tcp_port()),
        profile(tnc_config_text(kiss_port, modem.port(), rig_port, key_up_ms, 0)),
        tnc(start_tnc(profile.home())),
        gui(kiss_port, 5000) {}
  uint16_t kiss_port;
  TncProfile profile;
  ChildProcess tnc;
  KissClient gui;
};

// Ctrl-C, a kill and a closed terminal alike.
TEST(UplinkLoopback, TerminationWhileKeyedUnkeysFirst) {
  for (int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(signal_number);
    FakeRigctld rig;
    ModemListener modem;
    RunningTnc station(modem, rig.port(), 10000);
    station.gui.send_frame("cmd:list");
    ASSERT_TRUE(rig.wait_for_commands(2, 5000));
    const int status = station.tnc.stop(signal_number, 5000);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), signal_number);
    ASSERT_TRUE(rig.wait_for_commands(3, 1000));
    EXPECT_EQ(rig.commands()[2].bytes, "T 0");
    EXPECT_FALSE(modem.receive(0));
  }
}

// Each client starts with a fresh deframer, and clients that came and went
// while another was served do not keep the next one waiting.
TEST(UplinkLoopback, NextClientIsServedAtOnceWithAFreshDeframer) {
  ModemListener modem;
  RunningTnc station(modem, free_tcp_port(), 0);
  const uint8_t unfinished[] = {0xC0, 0x00, 0x41};
  station.gui.send_raw(unfinished);
  station.gui.close();
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(KissClient(station.kiss_port, 3000).connected());
  KissClient next(station.kiss_port, 3000);
  const int64_t sent_at = monotonic_ms();
  next.send_frame("cmd:bogus");
  ASSERT_TRUE(station.tnc.wait_for_output("] Unknown command \"bogus\"", 3000))
      << station.tnc.output();
  EXPECT_LT(monotonic_ms() - sent_at, 1500);
  EXPECT_EQ(station.tnc.output().find("Error parsing"), std::string::npos);
}

// MaxClients comes from config.ini: two GUIs are served, a third is told why not.
TEST(UplinkLoopback, MaxClientsFromConfigIni) {
  ModemListener modem;
  const uint16_t kiss_port = free_tcp_port();
  TncProfile profile(tnc_config_text(kiss_port, modem.port(), free_tcp_port(), 0, 0) +
                     "[KISS]\nMaxClients = 2\n");
  ChildProcess tnc = start_tnc(profile.home());
  KissClient first(kiss_port, 5000);
  KissClient second(kiss_port, 5000);
  ASSERT_TRUE(tnc.wait_for_output("GUI connected. (client 2, 2 of 2 connected)", 5000))
      << tnc.output();
  KissClient third(kiss_port, 5000);
  KissReader reader(third.fd());
  const std::optional<std::string> line = reader.next(5000);
  ASSERT_TRUE(line);
  EXPECT_TRUE(line->starts_with("TNC busy: MaxClients = 2 GUI client(s) connected already."))
      << *line;
  EXPECT_FALSE(reader.next(3000));
  EXPECT_TRUE(reader.closed());
}

}  // namespace

}  // namespace kestrelis
