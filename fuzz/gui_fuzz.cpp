// The GUI link meets whatever a client sends: any bytes through the KISS
// deframer and the request parser, and every packet a request makes through
// the uplink framing. Nothing is keyed; instead each frame must be one the
// radio format allows and must decode back, with the receive chain's own
// steps, to the packet it was built from.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "packet/packet_check.hpp"
#include "request/requests.hpp"
#include "wire/csp.hpp"
#include "wire/frame.hpp"
#include "wire/kiss.hpp"

namespace kestrelis {

namespace {

void check_uplink_frame(const UplinkPacket& packet) {
  const std::vector<uint8_t> frame = uplink_frame(packet);
  // A request is refused long before its packet could outgrow a frame, so an
  // empty (unsendable) frame here means the two limits have drifted apart.
  if (frame.size() != packet.payload.size() + frame_overhead ||
      frame.size() > frame_overhead + max_payload_size) {
    __builtin_trap();
  }
  std::array<uint8_t, frame_prefix_size> prefix{};
  make_frame_prefix(prefix, static_cast<unsigned>(frame.size() - frame_prefix_size));
  if (!std::equal(prefix.begin(), prefix.end(), frame.begin())) __builtin_trap();

  const DecodedCodeword word = decode_codeword(std::span(frame).subspan(frame_prefix_size));
  if (word.corrected != 0) __builtin_trap();
  const std::span<const uint8_t> received = word.packet();
  const PacketCheck check = check_packet(received);
  const CspHeader header = unpack_csp_header(received.first<csp_header_size>());
  if (check.verdict != PacketVerdict::accepted || header.priority != 2 ||
      header.source != ground_station_address || header.destination != packet.destination ||
      header.destination_port != packet.destination_port ||
      header.source_port != packet.source_port || header.flags != 0 ||
      !std::ranges::equal(check.payload, packet.payload)) {
    __builtin_trap();
  }
}

void serve_client_bytes(std::span<const uint8_t> data) {
  KissDeframer deframer;
  for (uint8_t b : data) {
    const KissStep step = kiss_receive_byte(deframer, b);
    if (!step.frame) continue;
    if (step.event != KissStep::Event::frame_closed || step.frame->size() >= kiss_frame_capacity) {
      __builtin_trap();
    }
    const GuiRequest request = parse_gui_request(*step.frame, "QQ0ABC");
    if (request.kind == RequestKind::refused && request.packet) {
      __builtin_trap();
    }
    if (request.source_nocall && request.packet) __builtin_trap();
    if (request.packet) check_uplink_frame(*request.packet);
  }
}

}  // namespace

}  // namespace kestrelis

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kestrelis::serve_client_bytes(std::span(data, size));
  return 0;
}
