#include "support/downlink_packets.hpp"

#include <algorithm>

#include "archive/packet_log.hpp"
#include "platform/clock.hpp"
#include "platform/net.hpp"
#include "sim/telemetry_model.hpp"
#include "support/process.hpp"
#include "wire/bytes.hpp"
#include "wire/csp.hpp"
#include "wire/frame.hpp"

namespace kestrelis {

PacketBytes satellite_packet(uint8_t port, std::span<const uint8_t> payload) {
  const auto header = csp_header_bytes({.source = satellite_address,
                                        .destination = ground_station_address,
                                        .destination_port = port,
                                        .source_port = port});
  PacketBytes packet(header.size() + payload.size() + crc_size);
  std::copy(payload.begin(), payload.end(),
            std::copy(header.begin(), header.end(), packet.begin()));
  store_be32(std::span(packet).last<crc_size>(),
             crc32c(std::span(packet).first(packet.size() - crc_size)));
  return packet;
}

std::vector<PacketBytes> sample_packets(int64_t unix_ms, const std::string& text) {
  std::vector<PacketBytes> packets;
  const Housekeeping hk{.seed = 11, .start_unix_ms = unix_ms};
  for (size_t i = 0; i < telemetry_layouts.size(); ++i) {
    const uint8_t type = i % 2 == 0 ? beacon_tlm_type : telemetry_tlm_type;
    packets.push_back(satellite_packet(
        telemetry_port, make_record(telemetry_layouts[i], type, hk, unix_ms + int64_t(i) * 1000)));
  }
  PacketBytes message = {0x11, 3};
  message.insert(message.end(), text.begin(), text.end());
  packets.push_back(satellite_packet(digipeater_message_port, message));
  return packets;
}

std::vector<uint8_t> stream_of_packets(const std::vector<PacketBytes>& packets) {
  std::vector<uint8_t> stream;
  for (const PacketBytes& p : packets) {
    stream.insert(stream.end(), 8, idle_byte);
    const auto header = std::span(p).first<csp_header_size>();
    const std::vector<uint8_t> frame =
        build_frame(header, std::span(p).subspan(csp_header_size, p.size() - packet_overhead));
    stream.insert(stream.end(), frame.begin(), frame.end());
  }
  stream.insert(stream.end(), 8, idle_byte);
  return stream;
}

void send_stream(uint16_t port, std::span<const uint8_t> stream, size_t size) {
  const Socket socket = udp_open();
  const Ipv4Endpoint tnc{*parse_ipv4("127.0.0.1"), port};
  for (size_t at = 0; at < stream.size(); at += size) {
    (void)datagram_send(socket.fd(), tnc, stream.subspan(at, std::min(size, stream.size() - at)));
  }
}

std::vector<std::string> wait_for_log_lines(const std::string& home, int64_t from_ms, size_t count,
                                            int timeout_ms) {
  const int64_t deadline_ms = monotonic_ms() + timeout_ms;
  for (;;) {
    std::vector<std::string> names = {packet_log_file_name(from_ms)};
    if (const std::string today = packet_log_file_name(now_unix_ms()); today != names[0]) {
      names.push_back(today);  // the test ran across midnight UTC
    }
    std::vector<std::string> lines;
    for (const std::string& name : names) {
      const std::vector<std::string> day = lines_of(read_file(home + "/Kestrelis/packets/" + name));
      lines.insert(lines.end(), day.begin(), day.end());
    }
    if (lines.size() >= count || monotonic_ms() >= deadline_ms) return lines;
    sleep_ms(20);
  }
}

}  // namespace kestrelis
