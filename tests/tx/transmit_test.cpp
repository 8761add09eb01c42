#include "tx/transmit.hpp"

#include <gtest/gtest.h>

#include "app/config.hpp"
#include "app/startup.hpp"
#include "platform/clock.hpp"
#include "support/gui_capture.hpp"
#include "support/loopback_peers.hpp"
#include "support/process.hpp"
#include "tx/rigctld.hpp"

namespace {

TEST(AirTime, TruncatedMillisecondsAt1200Bits) {
  EXPECT_EQ(air_time_ms(347), 2313);
  EXPECT_EQ(air_time_ms(150), 1000);
  EXPECT_EQ(air_time_ms(1), 6);
  EXPECT_EQ(air_time_ms(0), 0);
}

TEST(TransmitLoopback, KeyingFailuresNeitherStopNorStallTheTransmission) {
  const TncConfig saved = tnc_config;
  ModemListener modem;
  tx_socket = udp_open();
  tx_destination = {0x7F000001, modem.port()};
  tnc_config.Address = "";  // no keying at all
  tnc_config.PreambleLength = 0;
  tnc_config.PostambleLength = 0;
  tnc_config.KeyUpDelay = 30;
  tnc_config.KeyDownDelay = 40;
  const std::vector<uint8_t> frame(100, 0x42);
  const KeyingWaits waits = transmit_frame(frame);
  EXPECT_EQ(modem.receive(1000)->bytes, frame);
  EXPECT_EQ(waits.target_ms, (std::array<int64_t, 3>{30, 666, 40}));
  for (size_t i = 0; i < 3; ++i) EXPECT_GE(waits.lasted_ns[i], waits.target_ms[i] * 1'000'000);

  OutputCapture capture;
  tnc_config.Address = "127.0.0.1";
  tnc_config.Port = std::to_string(free_tcp_port());
  tnc_config.PreambleLength = 2;
  transmit_frame(std::vector<uint8_t>{0x01});
  EXPECT_EQ(modem.receive(1000)->bytes, (std::vector<uint8_t>{0xAA, 0xAA, 0x01}));
  EXPECT_EQ(capture.console_messages(),
            (std::vector<std::string>{"Could not connect to HamLib RIG Control Daemon!\n",
                                      "Could not connect to HamLib RIG Control Daemon!\n"}));

  // A daemon that takes the connection but never answers costs half a second.
  Socket silent = tcp_listen("127.0.0.1", 0).socket;
  tnc_config.Port = std::to_string(local_port(silent.fd()));
  const int64_t begin = monotonic_ms();
  set_ptt(false);
  EXPECT_LT(monotonic_ms() - begin, 1000);
  EXPECT_GE(monotonic_ms() - begin, 450);
  tnc_config = saved;
}

}  // namespace
