#include "sim/uplink.hpp"

#include <algorithm>
#include <cstdio>

#include "radio/bytes.hpp"
#include "radio/frame.hpp"
#include "radio/frame_detector.hpp"
#include "radio/reed_solomon.hpp"
#include "sim/satellite.hpp"

namespace {

constexpr uint8_t idle_byte = 0xAA;

void check_codeword(UplinkFrame& f, std::span<const uint8_t> codeword) {
  f.codeword_length = codeword.size();
  std::vector<uint8_t> word(codeword.begin(), codeword.end());
  const int pad = 255 - static_cast<int>(word.size());
  std::optional<RsCodec> rs = rs_init(pad);
  f.check = UplinkCheck::uncorrectable;
  if (!rs) return;
  apply_randomizer(word);
  f.corrected = rs_decode(*rs, word, pad);
  if (f.corrected < 0) return;

  const auto packet = std::span<const uint8_t>(word).first(word.size() - rs_parity_size);
  if (packet.size() < packet_overhead) {
    f.check = UplinkCheck::too_small;
    return;
  }
  std::copy_n(packet.begin(), csp_header_size, f.header_bytes.begin());
  f.header = unpack_csp_header(f.header_bytes);
  const auto body = packet.first(packet.size() - crc_size);
  const auto payload = body.subspan(csp_header_size);
  f.payload.assign(payload.begin(), payload.end());
  const uint32_t received = load_be32(packet.last<crc_size>());
  f.check = received == crc32c(body)      ? UplinkCheck::good
            : received == crc32c(payload) ? UplinkCheck::crc_payload
                                          : UplinkCheck::crc_error;
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
    case UplinkCheck::crc_payload:
      return "CRC ok (payload only)";
    case UplinkCheck::good:
      return "CRC ok";
  }
  return "";
}

}  // namespace

CspHeader unpack_csp_header(std::span<const uint8_t, 4> h) {
  return {.priority = static_cast<uint8_t>(h[0] >> 6),
          .source = static_cast<uint8_t>(csp_source(h)),
          .destination = static_cast<uint8_t>(((h[0] & 0x1) << 4) | (h[1] >> 4)),
          .destination_port = static_cast<uint8_t>(csp_destination_port(h)),
          .source_port = static_cast<uint8_t>(h[2] & 0x3F),
          .flags = h[3]};
}

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
