#include "keying/transmitter.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/clock.hpp"
#include "support/loopback_peers.hpp"
#include "support/process.hpp"

namespace kestrelis {

namespace {

TEST(Transmitter, AirTimeIsTruncatedMillisecondsAt1200Bits) {
  const std::pair<size_t, int64_t> cases[] = {{347, 2313}, {150, 1000}, {1, 6}, {0, 0}};
  for (auto [bytes, ms] : cases) EXPECT_EQ(air_time_ms(bytes), ms) << bytes << " bytes";
}

TEST(TransmitterLoopback, KeyingFailuresNeitherStopNorStallTheTransmission) {
  ModemListener modem;
  TncConfig config;
  config.GR_TransmitPort = modem.port();
  config.PreambleLength = 0;
  config.KeyUpDelay = 30;
  config.KeyDownDelay = 40;
  std::vector<std::string> lines;
  const Console console{1, [&](std::string_view text) {
                          lines.emplace_back(text.starts_with("[") ? text.substr(21) : text);
                        }};
  Transmitter transmitter(config, console);
  open_transmit_socket(transmitter);
  const std::vector<uint8_t> frame(100, 0x42);
  const KeyingWaits waits = transmit_frame(transmitter, frame);  // no rigctld: no keying
  EXPECT_EQ(modem.receive(1000)->bytes, frame);
  EXPECT_EQ(waits.target_ms, (std::array<int64_t, 3>{30, 666, 40}));
  for (size_t i = 0; i < 3; ++i) EXPECT_GE(waits.lasted_ns[i], waits.target_ms[i] * 1'000'000);
  EXPECT_TRUE(lines.empty());

  config.Address = "127.0.0.1";
  config.Port = std::to_string(free_tcp_port());
  config.PreambleLength = 2;
  config.PostambleLength = 1;
  (void)transmit_frame(transmitter, std::vector<uint8_t>{0x01});
  EXPECT_EQ(modem.receive(1000)->bytes, (std::vector<uint8_t>{0xAA, 0xAA, 0x01, 0xAA}));
  EXPECT_EQ(lines, (std::vector<std::string>{"Could not connect to HamLib RIG Control Daemon!\n",
                                             "Could not connect to HamLib RIG Control Daemon!\n"}));

  // A daemon that takes the connection but never answers costs half a second.
  Socket silent = tcp_listen("127.0.0.1", 0).socket;
  config.Port = std::to_string(local_port(silent.fd()));
  const int64_t begin = monotonic_ms();
  set_ptt(transmitter.keyer, false);
  EXPECT_LT(monotonic_ms() - begin, 1000);
  EXPECT_GE(monotonic_ms() - begin, 450);
}

}  // namespace

}  // namespace kestrelis
