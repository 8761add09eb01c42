// The real binary between a KISS client, a UDP listener in the modem's place
// and a stand-in rigctld that records each connection.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>

#include "platform/clock.hpp"
#include "radio/test_bit_stream.hpp"
#include "support/frame_recording.hpp"
#include "support/loopback_peers.hpp"
#include "support/tnc_process.hpp"
#include "tx/transmit.hpp"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int64_t ms = 1'000'000;
constexpr size_t preamble = 50;
constexpr size_t postamble = 20;

// A running TNC wired to `modem` and a rigctld at `rig_port`, with a GUI connected.
struct Station {
  Station(const ModemListener& modem, uint16_t rig_port, int key_up_ms, int key_down_ms)
      : kiss_port(free_tcp_port()),
        profile(tnc_config_text(kiss_port, modem.port(), rig_port, key_up_ms, key_down_ms)),
        tnc(start_tnc(profile.home())),
        gui(kiss_port, 5000) {}
  uint16_t kiss_port;
  TncProfile profile;
  ChildProcess tnc;
  KissClient gui;
};

Bytes framed(const Bytes& frame) {
  Bytes block(preamble + frame.size() + postamble, 0xAA);
  std::copy(frame.begin(), frame.end(), block.begin() + preamble);
  return block;
}

TEST(UplinkLoopback, ListIsKeyedSentAndUnkeyedInOrderWithItsWaits) {
  FakeRigctld rig;
  ModemListener modem;
  Station station(modem, rig.port(), 200, 300);
  ASSERT_TRUE(station.gui.connected());
  station.gui.send_frame("cmd:list");
  auto datagram = modem.receive(5000);
  ASSERT_TRUE(datagram);
  EXPECT_EQ(datagram->bytes, framed(list_frame));
  // The start-up check connects without a command, then on and off.
  ASSERT_TRUE(rig.wait_for_commands(3, 5000));
  const auto commands = rig.commands();
  EXPECT_EQ(commands[1].bytes, "T 1");
  EXPECT_EQ(commands[2].bytes, "T 0");
  // Arrival times are taken by the peers' threads, which a busy machine may
  // wake late for the earlier event of a pair; the waits themselves are exact.
  constexpr int64_t observation_slack = 20 * ms;
  EXPECT_GE(datagram->arrived_ns - commands[1].accepted_ns, 200 * ms - observation_slack);
  EXPECT_GE(commands[2].accepted_ns - datagram->arrived_ns,
            (air_time_ms(118) + 300) * ms - observation_slack);
  EXPECT_TRUE(station.tnc.wait_for_output("] Sending 118 bytes to GNURadio\r\n", 1000));
}

TEST(UplinkLoopback, MessageIsSentAndARefusedKeyingIsReported) {
  FakeRigctld rig("RPRT -1\n");
  ModemListener modem;
  Station station(modem, rig.port(), 0, 0);
  station.gui.send_frame("QQ0ABC>QQ0XYZ, Kestrelis, STORE=0 100% sure");
  auto datagram = modem.receive(5000);
  ASSERT_TRUE(datagram);
  const Bytes frame(datagram->bytes.begin() + preamble, datagram->bytes.end() - postamble);
  const std::string payload = "QQ0ABC>QQ0XYZ, Kestrelis, STORE=0 100%% sure";
  EXPECT_EQ(read_uplink(frame).payload,
            Bytes(payload.c_str(), payload.c_str() + payload.size() + 1));
  EXPECT_TRUE(station.tnc.wait_for_output("] rigctld refused \"T 0\" (RPRT -1)\n", 3000));
  EXPECT_NE(station.tnc.output().find("] rigctld refused \"T 1\" (RPRT -1)\n"), std::string::npos);
}

// Ctrl-C, a kill and a closed terminal alike.
TEST(UplinkLoopback, TerminationWhileKeyedUnkeysFirst) {
  for (int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(signal_number);
    FakeRigctld rig;
    ModemListener modem;
    Station station(modem, rig.port(), 10000, 0);
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
TEST(GuiServerLoopback, NextClientIsServedAtOnceWithAFreshDeframer) {
  ModemListener modem;
  Station station(modem, free_tcp_port(), 0, 0);
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

}  // namespace
