#include "packet/packet_check.hpp"

#include <algorithm>
#include <bit>

#include "wire/bytes.hpp"
#include "wire/csp.hpp"
#include "wire/frame.hpp"
#include "wire/reed_solomon.hpp"

namespace kestrelis {

namespace {

constexpr int max_crc_bits_wrong = 4;

}  // namespace

DecodedCodeword decode_codeword(std::span<const uint8_t> codeword) {
  DecodedCodeword d;
  d.length = std::min(codeword.size(), d.word.size());
  std::copy_n(codeword.begin(), d.length, d.word.begin());
  const std::span<uint8_t> stored = std::span(d.word).first(d.length);
  apply_randomizer(stored);
  d.corrected = rs_decode(rs_codec(), stored);
  return d;
}

PacketCheck check_packet(std::span<const uint8_t> packet) {
  PacketCheck c;
  if (packet.size() < packet_overhead) return c;
  const size_t crc_offset = packet.size() - crc_size;
  c.payload = packet.subspan(csp_header_size, crc_offset - csp_header_size);
  c.received_crc = load_be32(packet.subspan(crc_offset).first<crc_size>());
  c.payload_crc = crc32c(c.payload);
  const auto header = packet.first<csp_header_size>();
  c.source = static_cast<uint8_t>(csp_source(header));
  c.destination_port = static_cast<uint8_t>(csp_destination_port(header));
  if (c.received_crc == c.payload_crc || c.received_crc == crc32c(packet.first(crc_offset))) {
    c.verdict = PacketVerdict::accepted;
  } else if (std::popcount(c.received_crc ^ c.payload_crc) <= max_crc_bits_wrong) {
    c.verdict = PacketVerdict::crc_tolerated;
  } else {
    c.verdict = PacketVerdict::crc_dropped;
  }
  return c;
}

}  // namespace kestrelis
