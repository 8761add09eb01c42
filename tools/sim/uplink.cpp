#include "sim/uplink.hpp"

#include <algorithm>
#include <cstdio>

#include "packet/packet_check.hpp"
#include "sim/satellite.hpp"
#include "wire/frame.hpp"
#include "wire/frame_detector.hpp"

namespace kestrelis {

namespace {


void check_codeword(UplinkFrame& f, std::span<const uint8_t> codeword) {
  f.codeword_length = codeword.size();
  const DecodedCodeword decoded = decode_codeword(codeword);
  f.corrected = decoded.corrected;
  f.check = UplinkCheck::uncorrectable;
  if (f.corrected < 0) return;
  const PacketCheck check = check_packet(decoded.packet());
  switch (check.verdict) {
    case PacketVerdict::too_small:
      f.check = UplinkCheck::too_small;
      return;
    case PacketVerdict::crc_dropped:
      f.check = UplinkCheck::crc_error;
      break;
    case PacketVerdict::crc_tolerated:
      f.check = UplinkCheck::crc_tolerated;
      break;
    case PacketVerdict::accepted:
      f.check =
          check.received_crc == check.payload_crc ? UplinkCheck::crc_payload : UplinkCheck::good;
      break;
  }
  f.header = unpack_csp_header(decoded.packet().first<csp_header_size>());
  f.payload.assign(check.payload.begin(), check.payload.end());
}

const char* check_text(UplinkCheck c) {
  switch (c) {
    case UplinkCheck::incomplete:
      return "frame incomplete";
    case UplinkCheck::uncorrectable:
      return "RS uncorrectable";
    case UplinkCheck::too_small:
      return "packet too small";
    case UplinkCheck::crc_error:
      return "CRC error";
    case UplinkCheck::crc_tolerated:
      return "CRC tolerated (at most 4 bits off)";
    case UplinkCheck::crc_payload:
      return "CRC ok (payload only)";
    case UplinkCheck::good:
      return "CRC ok";
  }
  return "";
}

}  // namespace

std::vector<UplinkFrame> decode_uplink_datagram(std::span<const uint8_t> datagram) {
  struct Found {
    size_t start = 0;
    size_t end = 0;
    UplinkFrame frame;
  };
  std::vector<Found> found;
  FrameDetector detector;
  FrameHandler handler;
  size_t base = 0;  // where the bytes of the current detect_frames call begin
  handler.sync_found = [&](StreamPoint at) {
    const size_t last_sync_byte = std::min(base + at.byte, datagram.size());
    found.push_back({last_sync_byte >= 3 ? last_sync_byte - 3 : 0, datagram.size(), {}});
  };
  handler.codeword_complete = [&](std::span<const uint8_t> codeword, StreamPoint at) {
    found.back().end = std::min(base + at.byte, datagram.size());
    check_codeword(found.back().frame, codeword);
  };
  detect_frames(detector, datagram, handler);
  // The detector hands out a codeword once the byte after it has come; that
  // byte is the postamble's, or this stand-in when there is none.
  const std::array<uint8_t, 1> after{idle_byte};
  base = datagram.size();
  detect_frames(detector, after, handler);

  std::vector<UplinkFrame> frames;
  size_t previous_end = 0;
  for (size_t i = 0; i < found.size(); ++i) {
    Found& f = found[i];
    const size_t next_start = i + 1 < found.size() ? found[i + 1].start : datagram.size();
    f.frame.preamble = f.start - std::min(previous_end, f.start);
    f.frame.postamble = next_start - std::min(f.end, next_start);
    const auto is_idle = [](uint8_t b) { return b == idle_byte; };
    f.frame.idle_bytes_ok =
        std::all_of(datagram.begin() + static_cast<std::ptrdiff_t>(f.start - f.frame.preamble),
                    datagram.begin() + static_cast<std::ptrdiff_t>(f.start), is_idle) &&
        std::all_of(datagram.begin() + static_cast<std::ptrdiff_t>(f.end),
                    datagram.begin() + static_cast<std::ptrdiff_t>(f.end + f.frame.postamble),
                    is_idle);
    // A frame cut short still names its length in the length field.
    const size_t length_at = f.start + frame_prefix_size - 1;
    if (f.frame.check == UplinkCheck::incomplete && length_at < datagram.size()) {
      f.frame.codeword_length = datagram[length_at];
    }
    previous_end = f.end;
    frames.push_back(std::move(f.frame));
  }
  return frames;
}

std::string describe_uplink(const UplinkFrame& f) {
  char head[200];
  std::snprintf(head, sizeof head, "preamble %zu, postamble %zu%s, N %zu, ", f.preamble,
                f.postamble, f.idle_bytes_ok ? "" : " (not all 0xAA)", f.codeword_length);
  std::string line = head;
  if (f.check == UplinkCheck::incomplete || f.check == UplinkCheck::uncorrectable) {
    return line + check_text(f.check);
  }
  std::snprintf(head, sizeof head, "RS corrected %d, %s", f.corrected, check_text(f.check));
  line += head;
  if (f.check == UplinkCheck::too_small) return line;
  const CspHeader& h = f.header;
  std::snprintf(head, sizeof head,
                ", priority %u source %u destination %u dport %u sport %u flags 0x%02X, "
                "payload %zu bytes ",
                h.priority, h.source, h.destination, h.destination_port, h.source_port, h.flags,
                f.payload.size());
  line += head + quoted_text(f.payload) + " hex";
  for (uint8_t b : f.payload) {
    char hex[4];
    std::snprintf(hex, sizeof hex, " %02X", b);
    line += hex;
  }
  return line;
}

}  // namespace kestrelis
