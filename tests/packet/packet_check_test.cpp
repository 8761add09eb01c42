// The packet stages at edges the golden transcript alone would show: the CRC
// tolerance, the smallest packet, and payloads too short to dispatch.

#include "packet/packet_check.hpp"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "packet/dispatch.hpp"
#include "wire/csp.hpp"

namespace kestrelis {

namespace {

using Bytes = std::vector<uint8_t>;

TEST(PacketCheck, CrcToleranceEdgeAndSmallestPacket) {
  // The payload 4C from 25 to 1, ports 14; its CRC-32C alone is 5E45813D. An
  // empty payload's CRC is 0.
  using enum PacketVerdict;
  const std::tuple<const char*, Bytes, PacketVerdict> cases[] = {
      {"four bits off", {0xB2, 0x13, 0x8E, 0x00, 0x4C, 0xDE, 0x05, 0x83, 0x3C}, crc_tolerated},
      {"five bits off", {0xB2, 0x13, 0x8E, 0x00, 0x4C, 0xDE, 0x05, 0x83, 0x3E}, crc_dropped},
      {"eight bytes, no payload", {0xB2, 0x13, 0x8E, 0x00, 0, 0, 0, 0}, accepted},
      {"seven bytes", {0xB2, 0x13, 0x8E, 0x00, 0, 0, 0}, too_small},
  };
  for (const auto& [name, packet, verdict] : cases) {
    EXPECT_EQ(check_packet(packet).verdict, verdict) << name;
  }
}

// A telemetry word or a message kind needs two bytes.
TEST(Dispatch, PayloadsOfFewerThanTwoBytesAreTooShort) {
  for (const uint8_t port : {telemetry_port, digipeater_message_port}) {
    for (const size_t size : {0u, 1u, 2u}) {
      const Dispatch d = dispatch_csp_packet(Bytes(size, 3), port, satellite_address);
      EXPECT_EQ(d.action == PacketAction::too_short, size < 2)
          << "port " << int{port} << ", " << size << " bytes";
    }
  }
}

}  // namespace

}  // namespace kestrelis
