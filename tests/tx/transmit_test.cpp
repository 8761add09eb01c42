#include <gtest/gtest.h>

#include "app/config.hpp"
#include "app/startup.hpp"
#include "platform/clock.hpp"
#include "support/gui_capture.hpp"
#include "support/loopback_peers.hpp"
#include "tx/rigctld.hpp"
#include "tx/transmit.hpp"

namespace {

TEST(AirTime, TruncatedMillisecondsAt1200Bits) {
  EXPECT_EQ(air_time_ms(347), 2313);
  EXPECT_EQ(air_time_ms(150), 1000);
  EXPECT_EQ(air_time_ms(1), 6);
  EXPECT_EQ(air_time_ms(0), 0);
}

// Points the transmission at `modem` and `rig` (none: Address empty) for one
// test, and restores the settings afterwards.
struct TransmitSetup {
  TransmitSetup(const ModemListener& modem, const FakeRigctld* rig, int preamble, int postamble) {
    tnc_config.Address = rig != nullptr ? "127.0.0.1" : "";
    tnc_config.Port = rig != nullptr ? std::to_string(rig->port()) : "";
    tnc_config.PreambleLength = preamble;
    tnc_config.PostambleLength = postamble;
    tnc_config.KeyUpDelay = 30;
    tnc_config.KeyDownDelay = 40;
    tx_socket = udp_open();
    tx_destination = {0x7F000001, modem.port()};
  }
  ~TransmitSetup() { tnc_config = saved; }
  TncConfig saved = tnc_config;
};

TEST(TransmitLoopback, WithoutAddressTheFrameGoesAloneAndUnkeyed) {
  ModemListener modem;
  TransmitSetup setup(modem, nullptr, 0, 0);
  const std::vector<uint8_t> frame(100, 0x42);
  const KeyingWaits waits = transmit_frame(frame);
  auto datagram = modem.receive(1000);
  ASSERT_TRUE(datagram);
  EXPECT_EQ(datagram->bytes, frame);
  EXPECT_EQ(waits.target_ms, (std::array<int64_t, 3>{30, 666, 40}));
  for (size_t i = 0; i < 3; ++i) EXPECT_GE(waits.lasted_ns[i], waits.target_ms[i] * 1'000'000);
}

TEST(TransmitLoopback, RefusedAndSilentDaemonsAreBounded) {
  ModemListener modem;
  FakeRigctld refusing("RPRT -1\n");
  TransmitSetup setup(modem, &refusing, 2, 3);
  tnc_config.PTT_ON_Command = "";
  OutputCapture capture;
  transmit_frame(std::vector<uint8_t>{0x01});
  ASSERT_TRUE(refusing.wait_for_commands(2, 1000));
  EXPECT_EQ(refusing.commands()[0].bytes, "");
  EXPECT_EQ(refusing.commands()[1].bytes, "T 0");
  EXPECT_EQ(modem.receive(1000)->bytes, (std::vector<uint8_t>{0xAA, 0xAA, 0x01, 0xAA, 0xAA, 0xAA}));
  EXPECT_EQ(capture.console_messages(),
            (std::vector<std::string>{"rigctld refused \"\" (RPRT -1)\n",
                                      "rigctld refused \"T 0\" (RPRT -1)\n"}));

  // A daemon that takes the connection but never answers costs half a second.
  Socket silent = tcp_listen("127.0.0.1", 0).socket;
  tnc_config.Port = std::to_string(local_port(silent.fd()));
  const int64_t begin = monotonic_ms();
  set_ptt(false);
  EXPECT_LT(monotonic_ms() - begin, 1000);
  EXPECT_GE(monotonic_ms() - begin, 450);
}

}  // namespace
