#include "tx/transmit.hpp"

#include <algorithm>
#include <vector>

#include "app/config.hpp"
#include "app/console_log.hpp"
#include "app/startup.hpp"
#include "platform/clock.hpp"
#include "platform/net.hpp"
#include "tx/rigctld.hpp"

FrameRecorder transmit_recorder = nullptr;

namespace {

constexpr uint8_t idle_byte = 0xAA;
constexpr int64_t ns_per_ms = 1'000'000;

// Waits `ms` from now; returns how long the wait lasted.
int64_t keying_wait(int64_t ms) {
  const int64_t begin = monotonic_ns();
  sleep_until_ns(begin + ms * ns_per_ms);
  return monotonic_ns() - begin;
}

}  // namespace

int64_t air_time_ms(size_t total_bytes) {
  const double ms = static_cast<double>(total_bytes) * 8.0 / 1200.0 * 1000.0;
  return static_cast<int64_t>(static_cast<float>(ms));
}

KeyingWaits transmit_frame(std::span<const uint8_t> frame) {
  if (transmit_recorder != nullptr) {
    transmit_recorder(frame);
    return {};
  }
  const TncConfig& config = tnc_config;
  const auto preamble = static_cast<size_t>(config.PreambleLength);
  std::vector<uint8_t> block(preamble + frame.size() + static_cast<size_t>(config.PostambleLength),
                             idle_byte);
  std::copy(frame.begin(), frame.end(), block.begin() + static_cast<std::ptrdiff_t>(preamble));
  verbose_log(2, "Sending %d bytes to GNURadio\r\n", static_cast<int>(block.size()));

  KeyingWaits waits;
  waits.target_ms = {config.KeyUpDelay, air_time_ms(block.size()), config.KeyDownDelay};
  set_ptt(true);
  waits.lasted_ns[0] = keying_wait(waits.target_ms[0]);
  if (int error = datagram_send(tx_socket.fd(), tx_destination, block); error != 0) {
    verbose_log(5, "sendto failed with error: %d\n", error);
  }
  waits.lasted_ns[1] = keying_wait(waits.target_ms[1]);
  waits.lasted_ns[2] = keying_wait(waits.target_ms[2]);
  set_ptt(false);
  return waits;
}
