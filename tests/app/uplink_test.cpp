// The uplink where the golden transcript cannot see it: requests of several
// clients taking turns, requests whose client left, termination while keyed,
// and a client beyond MaxClients. The keying waits are timed in tests/keying.

#include "app/uplink.hpp"

#include <gtest/gtest.h>
#include <signal.h>

#include "support/loopback_peers.hpp"
#include "support/served_station.hpp"
#include "support/station_capture.hpp"
#include "support/tnc_process.hpp"

namespace kestrelis {

namespace {

// Refusals in the operator's words where the golden transcript does not show
// them: the console line, and the GUI's text without its line end.
TEST(Uplink, RefusalsInTheOperatorsWords) {
  const std::pair<Refusal, std::string> cases[] = {
      {{.kind = RefusalKind::unknown_command, .value = "\x1B[2J\x07\xC0"},  // no terminal control
       "Unknown command \"\\x1b[2J\\x07\\xc0\""},
      {{.kind = RefusalKind::improper_callsign}, "Improper callsign\n"},
      {{.kind = RefusalKind::relay_delay_too_long, .limit = 86400},
       "Maximum relay delay is 24 hours\n"},
  };
  for (const auto& [refusal, console] : cases) {
    SCOPED_TRACE(console);
    const std::vector<RefusalLine> lines = refusal_lines(refusal);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].console, console);
    EXPECT_TRUE(lines[0].console == lines[0].gui || lines[0].console == lines[0].gui + "\n");
  }
}

// A request from NOCALL is answered with the call sign error alone: no
// confirmation, nothing transmitted.
TEST(Uplink, ARequestFromNocallIsRefused) {
  StationCapture out;
  const std::string request = "NOCALL>QQ0XYZ, Kestrelis, STORE=0 hi";
  handle_gui_frame(out.station, std::vector<uint8_t>(request.begin(), request.end()), 1);
  EXPECT_EQ(out.console(),
            (std::vector<std::string>{"Transmission to Kestrelis\n", "Call signs error\n"}));
  EXPECT_EQ(out.gui(),
            std::vector<std::string>{"Call signs error. Check your call sign in config.ini."});
}

const std::string request_head = "QQ0ABC>QQ0XYZ, Kestrelis, STORE=0 ";

TEST(UplinkLoopback, TwoClientsRequestsTakeTurnsInArrivalOrderEachWithItsOwnReplies) {
  ServedStation s(2, 300);
  KissClient a(s.port(), 2000);
  ASSERT_TRUE(s.wait_for("GUI connected.", 1, 3000));
  // A client that connects while another is connected is served at once.
  KissClient b(s.port(), 2000);
  b.send_frame("cmd:bogus");
  KissReader b_replies(b.fd());
  ASSERT_EQ(b_replies.next(3000), "Unknown command \"bogus\"");

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
  ServedStation s(2, 1000);
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

// Ctrl-C, a kill and a closed terminal alike.
TEST(UplinkLoopback, TerminationWhileKeyedUnkeysFirst) {
  for (int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(signal_number);
    FakeRigctld rig;
    TncWithGui station(rig.port(), 10000);
    station.gui.send_frame("cmd:list");
    ASSERT_TRUE(rig.wait_for_commands(2, 5000));
    const int status = station.tnc.stop(signal_number, 5000);
    EXPECT_EQ(describe_wait_status(status), describe_wait_status(signal_number));
    ASSERT_TRUE(rig.wait_for_commands(3, 1000));
    EXPECT_EQ(rig.commands()[2].bytes, "T 0");
    EXPECT_FALSE(station.modem.receive(0));
  }
}

// MaxClients comes from config.ini: two GUIs are served, a third is told why not.
TEST(UplinkLoopback, MaxClientsFromConfigIni) {
  TncWithGui station(free_tcp_port(), 0, 0, "[KISS]\nMaxClients = 2\n");
  KissClient second(station.kiss_port, 5000);
  ASSERT_TRUE(station.tnc.wait_for_output("2 of 2 connected)", 5000)) << station.tnc.output();
  KissClient third(station.kiss_port, 5000);
  KissReader reader(third.fd());
  EXPECT_TRUE(reader.next(5000).value_or("").starts_with(
      "TNC busy: MaxClients = 2 GUI client(s) connected already."));
  EXPECT_FALSE(reader.next(3000));
  EXPECT_TRUE(reader.closed());
}

}  // namespace

}  // namespace kestrelis
