#pragma once
// The modem's side of the uplink: one datagram from the TNC holds a run of
// 0xAA bytes, a frame, and another run of 0xAA bytes. Each frame is found,
// de-randomised, corrected and checked with the TNC's own receive stages.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "wire/csp.hpp"

namespace kestrelis {

enum class UplinkCheck {
  incomplete,     // the datagram ended inside the frame
  uncorrectable,  // the length byte or the Reed-Solomon decoder refused it
  too_small,      // a packet of fewer than 8 bytes
  crc_error,      // neither CRC matches; the payload's differs in more than 4 bits
  crc_tolerated,  // good: the CRC differs from the payload's in at most 4 bits
  crc_payload,    // good, with the CRC over the payload alone
  good,           // good, with the CRC over header and payload
};

// One frame found in a datagram and what its decoding gave.
struct UplinkFrame {
  size_t preamble = 0;         // bytes before the sync word (after the previous frame)
  size_t postamble = 0;        // bytes after the codeword (up to the next frame)
  bool idle_bytes_ok = true;   // the preamble and postamble are all 0xAA
  size_t codeword_length = 0;  // N, from the length field
  int corrected = -1;          // bytes the Reed-Solomon decoder corrected; -1 when it failed
  UplinkCheck check = UplinkCheck::incomplete;
  CspHeader header;
  std::vector<uint8_t> payload;
};

// Every frame in `datagram`, in order; empty when it holds no sync word.
// A frame that ends with the datagram is complete (no byte has to follow).
[[nodiscard]] std::vector<UplinkFrame> decode_uplink_datagram(std::span<const uint8_t> datagram);

// One line (without line end) with the frame's sizes, correction, check,
// header fields and payload as quoted text and as hex.
[[nodiscard]] std::string describe_uplink(const UplinkFrame& frame);

// True for a frame whose payload can be acted on.
[[nodiscard]] constexpr bool uplink_good(const UplinkFrame& f) {
  return f.check == UplinkCheck::good || f.check == UplinkCheck::crc_payload ||
         f.check == UplinkCheck::crc_tolerated;
}

}  // namespace kestrelis
