#include "keying/transmitter.hpp"

#include <algorithm>
#include <vector>

#include "platform/clock.hpp"
#include "wire/frame.hpp"

namespace kestrelis {

namespace {

constexpr int64_t ns_per_ms = 1'000'000;
constexpr uint32_t loopback_address = 0x7F000001;  // 127.0.0.1

// Waits `ms` from now; returns how long the wait lasted.
int64_t keying_wait(int64_t ms) {
  const int64_t begin = monotonic_ns();
  sleep_until_ns(begin + ms * ns_per_ms);
  return monotonic_ns() - begin;
}

}  // namespace

void open_transmit_socket(Transmitter& t) {
  t.tx_socket = udp_open();
  if (!t.tx_socket.valid()) {
    verbose_log(t.console, 5, "Could not create socket : %d", last_socket_error());
  }
  t.tx_destination.address = loopback_address;
  t.tx_destination.port = static_cast<uint16_t>(t.config.GR_TransmitPort);
}

int64_t air_time_ms(size_t total_bytes) {
  const double ms = static_cast<double>(total_bytes) * 8.0 / 1200.0 * 1000.0;
  return static_cast<int64_t>(static_cast<float>(ms));
}

KeyingWaits transmit_frame(Transmitter& t, std::span<const uint8_t> frame) {
  const TncConfig& config = t.config;
  const auto preamble = static_cast<size_t>(config.PreambleLength);
  std::vector<uint8_t> block(preamble + frame.size() + static_cast<size_t>(config.PostambleLength),
                             idle_byte);
  std::copy(frame.begin(), frame.end(), block.begin() + static_cast<std::ptrdiff_t>(preamble));
  verbose_log(t.console, 2, "Sending %d bytes to GNURadio\r\n", static_cast<int>(block.size()));

  KeyingWaits waits;
  waits.target_ms = {config.KeyUpDelay, air_time_ms(block.size()), config.KeyDownDelay};
  set_ptt(t.keyer, true);
  waits.lasted_ns[0] = keying_wait(waits.target_ms[0]);
  if (int error = datagram_send(t.tx_socket.fd(), t.tx_destination, block); error != 0) {
    verbose_log(t.console, 5, "sendto failed with error: %d\n", error);
  }
  waits.lasted_ns[1] = keying_wait(waits.target_ms[1]);
  waits.lasted_ns[2] = keying_wait(waits.target_ms[2]);
  set_ptt(t.keyer, false);
  return waits;
}

}  // namespace kestrelis
