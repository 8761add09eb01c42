#include "radio/receive.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include "app/config.hpp"
#include "app/console_log.hpp"
#include "packet/csp.hpp"
#include "packet/dispatch.hpp"
#include "platform/net.hpp"
#include "platform/signals.hpp"
#include "radio/bytes.hpp"
#include "radio/frame.hpp"
#include "radio/reed_solomon.hpp"

namespace {

// Larger than any UDP datagram (65,507 bytes), so every one is examined whole.
constexpr size_t datagram_capacity = 65536;

// Absorbs a burst of datagrams while the thread waits on a slow GUI.
constexpr int receive_buffer_request = 8 << 20;

constexpr int max_crc_bits_wrong = 4;

}  // namespace

void check_packet(std::span<const uint8_t> packet) {
  // Under 8 bytes the header and the CRC would overlap.
  if (packet.size() < packet_overhead) {
    console_log("ERROR: Packet is too small\r\n");
    return;
  }
  const size_t crc_offset = packet.size() - crc_size;
  const std::span<const uint8_t> payload =
      packet.subspan(csp_header_size, crc_offset - csp_header_size);
  const uint32_t received = load_be32(packet.subspan(crc_offset).first<crc_size>());
  const uint32_t payload_crc = crc32c(payload);
  if (received != payload_crc && received != crc32c(packet.first(crc_offset))) {
    console_log("CRC32: ERROR %x:%x\r\n", payload_crc, received);
    if (std::popcount(received ^ payload_crc) > max_crc_bits_wrong) {
      console_log("CRC32: Error\n");
      return;
    }
  }
  const auto header = packet.first<csp_header_size>();
  dispatch_csp_packet(payload, static_cast<uint8_t>(csp_destination_port(header)),
                      static_cast<uint8_t>(csp_source(header)));
}

void process_codeword(std::span<const uint8_t> codeword) {
  const int length = static_cast<int>(codeword.size());
  const int pad = 255 - length;
  std::array<uint8_t, 255> word{};
  std::copy(codeword.begin(), codeword.end(), word.begin());
  const std::span<uint8_t> stored = std::span(word).first(codeword.size());
  apply_randomizer(stored);
  const std::optional<RsCodec> codec = rs_init(pad);
  const int corrected = codec ? rs_decode(*codec, stored, pad) : -1;
  if (corrected < 0) {
    console_log("ReedSolomon: ERROR\r\n");
    return;
  }
  console_log("ReedSolomon: OK (Corrected %d bytes)\r\n", corrected);
  console_log("Received %d bytes\r\n", length);
  console_log("-------FRAME END--------\r\n");
  check_packet(stored.first(static_cast<size_t>(length - rs_parity_size)));
}

void receive_bytes(FrameDetector& detector, std::span<const uint8_t> bytes) {
  static const FrameHandler handler{
      [](StreamPoint) { console_log("-----FRAME DETECTED-----\r\n"); },
      [](std::span<const uint8_t> codeword, StreamPoint) { process_codeword(codeword); }};
  detect_frames(detector, bytes, handler);
}

void receive_thread() {
  const std::string& address = tnc_config.GR_ReceiveAddress;
  const int port = tnc_config.GR_ReceivePort;
  NetResult bound = udp_bind(address.c_str(), static_cast<uint16_t>(port), receive_buffer_request);
  if (bound.failed_at == NetStep::socket) {
    verbose_log(5, "Could not create socket : %d", bound.error);
    bound.error = EBADF;  // what binding the missing socket reports
  }
  if (bound.failed_at != NetStep::none) {
    console_print("Bind failed with error code : %d", bound.error);
    exit_process(1);
  }
  const int fd = bound.socket.fd();
  if (const int granted = receive_buffer_bytes(fd); granted < receive_buffer_request) {
    verbose_log(5, "UDP receive buffer is %d bytes, not %d (see net.core.rmem_max)\r\n", granted,
                receive_buffer_request);
  }
  console_log("Listening for GNURadio on UDP %s:%d\r\n",
              address.empty() ? "127.0.0.1" : address.c_str(), port);

  std::vector<uint8_t> datagram(datagram_capacity);
  FrameDetector detector;
  for (;;) {
    const long length = datagram_receive(fd, datagram);
    if (length <= 0) continue;
    size_t size = static_cast<size_t>(length);
    if (size > datagram.size()) {
      console_log("Datagram of %ld bytes cut to %zu bytes\r\n", length, datagram.size());
      size = datagram.size();
    }
    receive_bytes(detector, std::span(datagram).first(size));
  }
}
