#pragma once
// Putting one finished frame on the air through the modem, between keying
// and unkeying the transmitter.

#include <array>
#include <chrono>
#include <cstdint>
#include <span>
#include <utility>

#include "console/console_log.hpp"
#include "keying/rigctld.hpp"
#include "platform/net.hpp"

namespace kestrelis {

// What a transmission reads of the configuration.
struct TransmitSettings {
  uint16_t GR_TransmitPort = 0;  // the modem's UDP port on 127.0.0.1
  int32_t PreambleLength = 0;    // 0xAA bytes before each frame
  int32_t PostambleLength = 0;   // 0xAA bytes after each frame
  std::chrono::milliseconds KeyUpDelay{0};
  std::chrono::milliseconds KeyDownDelay{0};
  RigctldSettings rigctld = {};
};

// The uplink's way to the air: the UDP socket frames leave by, where they go
// (127.0.0.1 at GR_TransmitPort), and the keying. Prepared by start-up before
// the worker threads start; transmissions run on the GUI thread.
struct Transmitter {
  // `answer_timeout_ns`: how long each of rigctld's answers is waited for (Keyer).
  Transmitter(TransmitSettings s, const Console& out, int64_t answer_timeout_ns = 5'000'000'000)
      : settings(std::move(s)), console(out), keyer(settings.rigctld, out, answer_timeout_ns) {}
  const TransmitSettings settings;
  const Console& console;
  Socket tx_socket;
  Ipv4Endpoint tx_destination;
  Keyer keyer;
};

// Opens the transmitter's socket and sets its destination; a socket that
// cannot be opened is reported at level 5 and every send then fails.
void open_transmit_socket(Transmitter& transmitter);

// How long each wait of one transmission lasted on the monotonic clock, beside
// its target: key-up delay, air time, key-down delay.
struct KeyingWaits {
  std::array<int64_t, 3> target_ms{};
  std::array<int64_t, 3> lasted_ns{};
};

// Sends PreambleLength bytes 0xAA, `frame` and PostambleLength bytes 0xAA as
// one datagram: keys, waits KeyUpDelay ms from the on command's delivery,
// sends, waits the air time and KeyDownDelay ms, unkeys. Waiting for
// rigctld's answers lengthens no wait: the on command's is read during the
// waits, the rest of it and the off command's after the off command went
// out, each within 5 s of its delivery; keying failures reach
// Keyer::report at the end. Prints "Sending %d bytes to GNURadio\r\n" at
// level 2 and a failed send at level 5. Blocks for the whole transmission;
// `frame` is only read.
KeyingWaits transmit_frame(Transmitter& transmitter, std::span<const uint8_t> frame);

// The time `total_bytes` take on the air at 1200 bit/s, truncated to whole
// milliseconds (347 bytes: 2313 ms).
[[nodiscard]] int64_t air_time_ms(size_t total_bytes);

}  // namespace kestrelis
