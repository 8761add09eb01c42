// Uplink datagrams as the TNC sends them, decoded by the simulator.

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "radio/test_bit_stream.hpp"
#include "sim/uplink.hpp"
#include "wire/bytes.hpp"
#include "wire/csp.hpp"
#include "wire/frame.hpp"

namespace kestrelis {

namespace {

using Bytes = std::vector<uint8_t>;

constexpr std::string_view request = "QQ0ABC>QQ0XYZ, Kestrelis, STORE=0 message\0";
const Bytes request_payload(request.begin(), request.end());
constexpr std::array<uint8_t, 4> request_header = csp_header_bytes({
    .destination = satellite_address,
    .destination_port = digipeater_port,
    .source_port = message_source_port,
});

// A frame like build_frame's, but with `crc` in place of the CRC over header and payload.
Bytes frame_with_crc(uint32_t crc) {
  Bytes packet(request_header.begin(), request_header.end());
  packet.insert(packet.end(), request_payload.begin(), request_payload.end());
  packet.resize(packet.size() + crc_size);
  store_be32(std::span(packet).last<crc_size>(), crc);
  return frame_of_packet(packet);
}

TEST(SimUplink, DecodesTheTncsDatagrams) {
  const Bytes built = build_frame(request_header, request_payload);
  Bytes damaged16 = built, damaged17 = built;
  for (size_t i = 0; i < 17; ++i) {
    if (i < 16) damaged16[frame_prefix_size + 3 * i] ^= 0x5A;
    damaged17[frame_prefix_size + 3 * i] ^= 0x5A;
  }
  Bytes body(request_header.begin(), request_header.end());
  body.insert(body.end(), request_payload.begin(), request_payload.end());
  const struct {
    const char* name;
    Bytes frame;
    size_t preamble, postamble;
    UplinkCheck check;
    int corrected;
  } cases[] = {
      {"clean, preamble 50, postamble 20", built, 50, 20, UplinkCheck::good, 0},
      {"16 damaged bytes, no postamble", damaged16, 50, 0, UplinkCheck::good, 16},
      {"17 damaged bytes", damaged17, 50, 0, UplinkCheck::uncorrectable, -1},
      {"CRC over the payload alone", frame_with_crc(crc32c(request_payload)), 8, 8,
       UplinkCheck::crc_payload, 0},
      {"CRC wrong", frame_with_crc(crc32c(body) ^ 1), 0, 8, UplinkCheck::crc_error, 0},
      {"cut short", Bytes(built.begin(), built.begin() + 60), 50, 0, UplinkCheck::incomplete, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes datagram(c.preamble, idle_byte);
    datagram.insert(datagram.end(), c.frame.begin(), c.frame.end());
    datagram.insert(datagram.end(), c.postamble, idle_byte);
    const auto frames = decode_uplink_datagram(datagram);
    ASSERT_EQ(frames.size(), 1u);
    const UplinkFrame& f = frames[0];
    EXPECT_EQ(f.preamble, c.preamble);
    EXPECT_EQ(f.postamble, c.postamble);
    EXPECT_TRUE(f.idle_bytes_ok);
    EXPECT_EQ(f.codeword_length, request_payload.size() + 40);
    EXPECT_EQ(f.check, c.check);
    EXPECT_EQ(f.corrected, c.corrected);
    if (c.corrected < 0) continue;
    EXPECT_EQ(csp_header_bytes(f.header), request_header);
    EXPECT_EQ(f.payload, request_payload);
  }
}

}  // namespace

}  // namespace kestrelis
