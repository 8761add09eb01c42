#pragma once
// Putting one finished frame on the air through the modem, between keying
// and unkeying the transmitter.

#include <array>
#include <cstdint>
#include <span>

// How long each wait of one transmission lasted on the monotonic clock, beside
// its target: key-up delay, air time, key-down delay.
struct KeyingWaits {
  std::array<int64_t, 3> target_ms{};
  std::array<int64_t, 3> lasted_ns{};
};

// Sends PreambleLength bytes 0xAA, `frame` and PostambleLength bytes 0xAA as
// one datagram on tx_socket to tx_destination: keys with set_ptt, waits
// KeyUpDelay ms, sends, waits the air time and KeyDownDelay ms, unkeys.
// Prints "Sending %d bytes to GNURadio\r\n" at level 2 and a failed send at
// level 5. Blocks for the whole transmission; `frame` is only read.
KeyingWaits transmit_frame(std::span<const uint8_t> frame);

// The time `total_bytes` take on the air at 1200 bit/s, truncated to whole
// milliseconds (347 bytes: 2313 ms).
[[nodiscard]] int64_t air_time_ms(size_t total_bytes);

// Tests and fuzzers: when set, transmit_frame hands each frame to it and
// returns at once, without keying, sending or waiting. Null by default; set
// before any thread starts.
using FrameRecorder = void (*)(std::span<const uint8_t> frame);
extern FrameRecorder transmit_recorder;
