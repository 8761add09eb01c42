// Uplink datagrams as the TNC sends them, decoded by the simulator.

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "packet/csp.hpp"
#include "radio/bytes.hpp"
#include "radio/frame.hpp"
#include "radio/reed_solomon.hpp"
#include "sim/uplink.hpp"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr std::string_view request = "QQ0ABC>QQ0XYZ, Kestrelis, STORE=0 message\0";
const Bytes request_payload(request.begin(), request.end());
// Digipeater request: priority 2, source 25, destination 1, destination port 14, source port 30.
constexpr std::array<uint8_t, 4> request_header = {0xB2, 0x13, 0x9E, 0x00};

// A frame like build_frame's, but with `crc` in place of the CRC over header and payload.
Bytes frame_with_crc(uint32_t crc) {
  Bytes word(request_header.begin(), request_header.end());
  word.insert(word.end(), request_payload.begin(), request_payload.end());
  word.resize(word.size() + 4 + 32);
  store_be32(std::span(word).subspan(word.size() - 36).first<4>(), crc);
  const int pad = 223 - static_cast<int>(word.size() - 32);
  EXPECT_TRUE(rs_encode(*rs_init(pad), word, std::span(word).last<32>(), pad));
  apply_randomizer(word);
  Bytes frame(frame_prefix_size);
  make_frame_prefix(std::span(frame).first<frame_prefix_size>(),
                    static_cast<unsigned>(word.size()));
  frame.insert(frame.end(), word.begin(), word.end());
  return frame;
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
    Bytes datagram(c.preamble, 0xAA);
    datagram.insert(datagram.end(), c.frame.begin(), c.frame.end());
    datagram.insert(datagram.end(), c.postamble, 0xAA);
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
    EXPECT_EQ(f.header.priority, 2);
    EXPECT_EQ(f.header.source, ground_station_address);
    EXPECT_EQ(f.header.destination, satellite_address);
    EXPECT_EQ(f.header.destination_port, digipeater_port);
    EXPECT_EQ(f.header.source_port, 30);
    EXPECT_EQ(f.header.flags, 0);
    EXPECT_EQ(f.payload, request_payload);
  }
}

}  // namespace
