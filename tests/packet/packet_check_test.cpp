// The packet check where the golden transcript does not reach: the CRC
// tolerance at its edge and the smallest packet.

#include "packet/packet_check.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace kestrelis {

namespace {

using Bytes = std::vector<uint8_t>;

TEST(PacketCheck, CrcToleranceEdgeAndSmallestPacket) {
  // The payload 4C from 25 to 1, ports 14; its CRC-32C alone is 5E45813D. An
  // empty payload's CRC is 0.
  const struct {
    const char* name;
    Bytes packet;
    PacketVerdict verdict;
  } cases[] = {
      {"four bits off",
       {0xB2, 0x13, 0x8E, 0x00, 0x4C, 0xDE, 0x05, 0x83, 0x3C},
       PacketVerdict::crc_tolerated},
      {"five bits off",
       {0xB2, 0x13, 0x8E, 0x00, 0x4C, 0xDE, 0x05, 0x83, 0x3E},
       PacketVerdict::crc_dropped},
      {"eight bytes, no payload", {0xB2, 0x13, 0x8E, 0x00, 0, 0, 0, 0}, PacketVerdict::accepted},
      {"seven bytes", {0xB2, 0x13, 0x8E, 0x00, 0, 0, 0}, PacketVerdict::too_small},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(check_packet(c.packet).verdict, c.verdict);
  }
}

}  // namespace

}  // namespace kestrelis
