#include "packet/packet_check.hpp"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "radio/test_bit_stream.hpp"
#include "wire/csp.hpp"
#include "wire/frame.hpp"
#include "wire/reed_solomon.hpp"

namespace kestrelis {

namespace {

using Bytes = std::vector<uint8_t>;

// The packet of the one-byte payload 0x4C from 25 to 1, ports 14, with its CRC-32C.
const Bytes list_packet = {0xB2, 0x13, 0x8E, 0x00, 0x4C, 0x2A, 0xC1, 0xFD, 0x4C};

TEST(PacketCheck, DecodeCodewordCorrectsUpToSixteenBytes) {
  const Bytes codeword(list_frame.begin() + frame_prefix_size, list_frame.end());
  struct Case {
    const char* name;
    size_t damaged;  // bytes inverted, every second one from the first
    int corrected;
  };
  const Case cases[] = {{"clean", 0, 0}, {"sixteen damaged", 16, 16}, {"seventeen", 17, -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes damaged = codeword;
    for (size_t i = 0; i < c.damaged; ++i) damaged[2 * i] = static_cast<uint8_t>(~damaged[2 * i]);
    const DecodedCodeword word = decode_codeword(damaged);
    EXPECT_EQ(word.corrected, c.corrected);
    EXPECT_EQ(word.length, 41u);
    if (c.corrected >= 0) {
      EXPECT_EQ(Bytes(word.packet().begin(), word.packet().end()), list_packet);
    }
  }
  for (size_t n : {0u, 1u, 20u, 32u}) {
    SCOPED_TRACE(testing::Message() << "codeword of " << n << " bytes");
    EXPECT_EQ(decode_codeword(Bytes(n, 0)).corrected, -1);
  }
}

TEST(PacketCheck, CrcOverPacketOrPayloadAndUpToFourWrongBits) {
  // CRC-32C of the payload 4C alone is 5E45813D, of header and payload 2AC1FD4C.
  const struct {
    const char* name;
    uint32_t crc;
    PacketVerdict verdict;
  } cases[] = {
      {"over header and payload", 0x2AC1FD4C, PacketVerdict::accepted},
      {"over the payload alone", 0x5E45813D, PacketVerdict::accepted},
      {"four bits off", 0xDE05833C, PacketVerdict::crc_tolerated},
      {"five bits off", 0xDE05833E, PacketVerdict::crc_dropped},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes packet = {0xB2, 0x13, 0x8E, 0x00, 0x4C};
    for (int shift = 24; shift >= 0; shift -= 8) packet.push_back(uint8_t(c.crc >> shift));
    const PacketCheck check = check_packet(packet);
    EXPECT_EQ(check.verdict, c.verdict);
    EXPECT_EQ(check.received_crc, c.crc);
    EXPECT_EQ(check.payload_crc, 0x5E45813Du);
    EXPECT_EQ(check.source, ground_station_address);
    EXPECT_EQ(check.destination_port, 14);
    EXPECT_EQ(Bytes(check.payload.begin(), check.payload.end()), Bytes{0x4C});
    EXPECT_EQ(packet_accepted(check.verdict), c.verdict != PacketVerdict::crc_dropped);
  }
}

// Valid codewords of 33 to 39 bytes carry packets of 1 to 7 bytes, too small
// to hold a header and a CRC; 8 bytes hold them with an empty payload.
TEST(PacketCheck, PacketsUnderEightBytesAreTooSmall) {
  const RsCodec codec = *rs_init(0);
  std::mt19937 rng(11);
  for (size_t n = 33; n <= 40; ++n) {
    SCOPED_TRACE(testing::Message() << "codeword of " << n << " bytes, seed 11");
    Bytes codeword(n);
    for (size_t i = 0; i < n - 32; ++i) codeword[i] = static_cast<uint8_t>(rng());
    ASSERT_TRUE(rs_encode(codec, codeword, std::span(codeword).last<32>(), int(255 - n)));
    apply_randomizer(codeword);
    const DecodedCodeword word = decode_codeword(codeword);
    ASSERT_EQ(word.corrected, 0);
    EXPECT_EQ(word.packet().size(), n - 32);
    EXPECT_EQ(check_packet(word.packet()).verdict == PacketVerdict::too_small, n < 40);
  }
}

}  // namespace

}  // namespace kestrelis
