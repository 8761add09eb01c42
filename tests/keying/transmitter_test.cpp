#include "keying/transmitter.hpp"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/clock.hpp"
#include "support/loopback_peers.hpp"
#include "support/process.hpp"
#include "support/station_capture.hpp"

namespace kestrelis {

namespace {

TEST(Transmitter, AirTimeIsTruncatedMillisecondsAt1200Bits) {
  const std::pair<size_t, int64_t> cases[] = {{347, 2313}, {150, 1000}, {1, 6}, {0, 0}};
  for (auto [bytes, ms] : cases) EXPECT_EQ(air_time_ms(bytes), ms) << bytes << " bytes";
}

using Lines = std::vector<std::string>;

// A rigctld that takes one connection and then no more, and refuses the
// command it carried `delay_ms` after reading it.
struct LateRefusal {
  explicit LateRefusal(int delay_ms)
      : listener(tcp_listen("127.0.0.1", 0).socket),
        port(local_port(listener.fd())),
        thread([this, delay_ms] {
          Socket peer = tcp_accept(listener.fd());
          accepted_ns = monotonic_ns();
          listener.close();
          std::array<uint8_t, 64> buffer{};
          while (wait_readable(peer.fd(), 2000) && stream_receive(peer.fd(), buffer) > 0) {
          }
          sleep_ms(delay_ms);
          const uint8_t refusal[] = {'R', 'P', 'R', 'T', ' ', '-', '1', '\n'};
          (void)send_all(peer.fd(), refusal);
        }) {}
  ~LateRefusal() { thread.join(); }
  Socket listener;
  uint16_t port;
  std::atomic<int64_t> accepted_ns{0};
  std::thread thread;
};

// Keying failures neither stop nor stall a transmission: the frame goes out
// between its preamble and postamble after waits at least as long as their
// targets. Without an Address nothing is keyed and nothing printed; a daemon
// that is not there is reported for each command. The refusal of the on
// command is read whenever it comes within 5 s (a daemon waiting on its rig
// answers late), and never delays the frame; a refused keying owes no off
// command. Each keying failure reaches the GUI in the console's words.
TEST(TransmitterLoopback, KeyingFailuresNeitherStopNorStallTheTransmission) {
  constexpr int64_t key_up_ms = 200, ms = 1'000'000;
  const std::string absent = "Could not connect to HamLib RIG Control Daemon!\n";
  const std::string refused =
      "rigctld refused \"T 1\" (RPRT -1): check the rig's PTT type (rigctld -P; for the dummy "
      "rig, -P RIG)\n";
  // Whether an Address is set, when the on command is refused (never when
  // negative), the lines. Key-up wait until 200 ms, air time until 400 ms,
  // key-down wait until 440 ms, the off command then; a refusal after it is
  // read once the off command went out.
  const std::tuple<const char*, bool, int, Lines> cases[] = {
      {"no Address", false, -1, {}},
      {"daemon absent", true, -1, {absent, absent}},
      {"refused during key-up", true, 100, {refused, absent}},
      {"refused on the air", true, 300, {refused, absent}},
      {"refused after the off command", true, 500, {absent, refused}},
      {"refused late", true, 700, {absent, refused}}};
  for (const auto& [name, address, refusal_ms, lines] : cases) {
    SCOPED_TRACE(name);
    std::optional<LateRefusal> rig;
    if (refusal_ms >= 0) rig.emplace(refusal_ms);
    ModemListener modem;
    TncConfig config;
    config.Address = address ? "127.0.0.1" : "";
    config.Port = std::to_string(rig ? rig->port : free_tcp_port());
    config.GR_TransmitPort = modem.port();
    config.PreambleLength = 28;
    config.PostambleLength = 1;
    config.KeyUpDelay = std::chrono::milliseconds(key_up_ms);
    config.KeyDownDelay = std::chrono::milliseconds(40);
    StationCapture out(config);
    open_transmit_socket(out.station.transmitter);
    KeyingWaits waits;
    std::thread transmission(
        [&] { waits = transmit_frame(out.station.transmitter, std::vector<uint8_t>{0x01}); });
    const auto datagram = modem.receive(3000);
    transmission.join();
    ASSERT_TRUE(datagram);
    std::vector<uint8_t> block(30, 0xAA);
    block[28] = 0x01;
    EXPECT_EQ(datagram->bytes, block);
    EXPECT_EQ(waits.target_ms, (std::array<int64_t, 3>{key_up_ms, 200, 40}));
    for (size_t i = 0; i < 3; ++i) EXPECT_GE(waits.lasted_ns[i], waits.target_ms[i] * ms);
    // Leeway for a loaded sanitizer run, well short of the 100 ms by which
    // waiting for the 300 ms refusal would delay the frame.
    if (rig) {
      EXPECT_LE(datagram->arrived_ns - rig->accepted_ns, (key_up_ms + 60) * ms);
    }
    EXPECT_EQ(out.console(), lines);
    Lines gui;
    for (const std::string& line : lines) gui.push_back(line.substr(0, line.size() - 1));
    EXPECT_EQ(out.gui(), gui);
  }
}

}  // namespace

}  // namespace kestrelis
