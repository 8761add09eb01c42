#pragma once
// From a received codeword to a checked CSP packet: de-randomising,
// Reed-Solomon correction, the size check and the CRC-32C check.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace kestrelis {

// A codeword after de-randomising and correction.
struct DecodedCodeword {
  int corrected = -1;  // bytes the decoder corrected; -1 when it could not
  size_t length = 0;   // N, the codeword's length
  std::array<uint8_t, 255> word{};
  // The packet: the first N - 32 bytes (CSP header, payload, CRC). Borrows
  // from the record; meaningful only when corrected >= 0.
  [[nodiscard]] std::span<const uint8_t> packet() const {
    return std::span(word).first(length >= 32 ? length - 32 : 0);
  }
};

// De-randomises a copy of `codeword` (N bytes, 33 to 255) and corrects it
// with the RS code shortened by 255 - N. Shorter codewords fail.
[[nodiscard]] DecodedCodeword decode_codeword(std::span<const uint8_t> codeword);

enum class PacketVerdict {
  too_small,      // under 8 bytes: header and CRC would overlap; dropped
  accepted,       // the CRC matches over header and payload, or over the payload alone
  crc_tolerated,  // the CRC differs from the payload's in at most 4 bits; accepted
  crc_dropped,    // the CRC differs in more bits; dropped
};

// What the check made of one packet.
struct PacketCheck {
  PacketVerdict verdict = PacketVerdict::too_small;
  uint32_t received_crc = 0;  // the packet's last four bytes
  uint32_t payload_crc = 0;   // the CRC-32C of the payload alone
  uint8_t source = 0;
  uint8_t destination_port = 0;
  std::span<const uint8_t> payload;  // between header and CRC, borrowed from the packet
};

// Checks a packet (CSP header, payload, CRC-32C, most significant byte first).
[[nodiscard]] PacketCheck check_packet(std::span<const uint8_t> packet);

// True for the verdicts whose packets are dispatched.
[[nodiscard]] constexpr bool packet_accepted(PacketVerdict v) {
  return v == PacketVerdict::accepted || v == PacketVerdict::crc_tolerated;
}

}  // namespace kestrelis
