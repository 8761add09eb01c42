#include "keying/transmitter.hpp"

#include <algorithm>
#include <limits>
#include <vector>

#include "platform/clock.hpp"
#include "wire/frame.hpp"

namespace kestrelis {

namespace {

constexpr int64_t ns_per_ms = 1'000'000;
constexpr uint32_t loopback_address = 0x7F000001;  // 127.0.0.1

// Waits `ms` from `begin_ns`, reading the on command's answer meanwhile but
// never past the wait's end; returns how long the wait lasted.
int64_t keying_wait(Keyer& keyer, PttCommand& on, int64_t begin_ns, int64_t ms) {
  const int64_t end_ns = begin_ns + ms * ns_per_ms;
  (void)keyer.collect_ptt(on, end_ns);
  sleep_until_ns(end_ns);
  return monotonic_ns() - begin_ns;
}

}  // namespace

void open_transmit_socket(Transmitter& t) {
  t.tx_socket = udp_open();
  if (!t.tx_socket.valid()) {
    verbose_log(t.console, 5, "Could not create socket : %d", last_socket_error());
  }
  t.tx_destination.address = loopback_address;
  t.tx_destination.port = t.settings.GR_TransmitPort;
}

int64_t air_time_ms(size_t total_bytes) {
  const double ms = static_cast<double>(total_bytes) * 8.0 / 1200.0 * 1000.0;
  return static_cast<int64_t>(static_cast<float>(ms));
}

KeyingWaits transmit_frame(Transmitter& t, std::span<const uint8_t> frame) {
  const TransmitSettings& config = t.settings;
  const auto preamble = static_cast<size_t>(config.PreambleLength);
  std::vector<uint8_t> block(preamble + frame.size() + static_cast<size_t>(config.PostambleLength),
                             idle_byte);
  std::copy(frame.begin(), frame.end(), block.begin() + static_cast<std::ptrdiff_t>(preamble));
  verbose_log(t.console, 2, "Sending %d bytes to GNURadio\r\n", static_cast<int>(block.size()));

  KeyingWaits waits;
  waits.target_ms = {config.KeyUpDelay.count(), air_time_ms(block.size()),
                     config.KeyDownDelay.count()};
  // The waits count from the delivery of each command, not from its answer.
  PttCommand on = t.keyer.deliver_ptt(true);
  const int64_t keyed_ns = monotonic_ns();
  t.keyer.report_keying();  // a failed connection: nothing keyed, no wait to keep
  waits.lasted_ns[0] = keying_wait(t.keyer, on, keyed_ns, waits.target_ms[0]);
  if (const SysResult sent = datagram_send(t.tx_socket.fd(), t.tx_destination, block);
      !sent.ok()) {
    verbose_log(t.console, 5, "sendto failed with error: %d\n", sent.error);
  }
  waits.lasted_ns[1] = keying_wait(t.keyer, on, monotonic_ns(), waits.target_ms[1]);
  waits.lasted_ns[2] = keying_wait(t.keyer, on, monotonic_ns(), waits.target_ms[2]);
  PttCommand off = t.keyer.deliver_ptt(false);
  // Read after the off command went out, each within its own bound; the GUI
  // hears of failures only now, as a GUI slow to read would hold this thread.
  (void)t.keyer.collect_ptt(on, std::numeric_limits<int64_t>::max());
  (void)t.keyer.collect_ptt(off, std::numeric_limits<int64_t>::max());
  t.keyer.report_keying();
  return waits;
}

}  // namespace kestrelis
