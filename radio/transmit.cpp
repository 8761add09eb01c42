#include "radio/transmit.hpp"

#include "app/console_log.hpp"
#include "packet/csp.hpp"
#include "radio/frame.hpp"
#include "tx/transmit.hpp"

void transmit_packet(std::span<const uint8_t> payload, uint8_t destination, uint8_t source_port,
                     uint8_t destination_port) {
  CspHeader header;
  header.destination = destination;
  header.source_port = source_port;
  header.destination_port = destination_port;
  const std::array<uint8_t, csp_header_size> header_bytes = csp_header_bytes(header);
  const std::vector<uint8_t> frame = build_frame(header_bytes, payload);
  if (frame.empty()) {
    console_log("Payload of %zu bytes exceeds %zu bytes: not transmitted\n", payload.size(),
                max_payload_size);
    return;
  }
  transmit_frame(frame);
}
