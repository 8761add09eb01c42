#include "wire/csp.hpp"

#include <gtest/gtest.h>

#include <tuple>

namespace kestrelis {

namespace {

auto fields(const CspHeader& h) {
  return std::tuple(h.priority, h.source, h.destination, h.destination_port, h.source_port,
                    h.flags);
}

// priority:2 | source:5 | destination:5 | destination_port:6 | source_port:6 | flags:8
TEST(Csp, HeaderBytesBothWays) {
  struct Case {
    const char* name;
    CspHeader header;
    std::array<uint8_t, 4> bytes;
  };
  const Case cases[] = {
      {"list command", {2, 25, 1, 14, 14, 0}, {0xB2, 0x13, 0x8E, 0x00}},
      {"ping", {2, 25, 5, 1, 14, 0}, {0xB2, 0x50, 0x4E, 0x00}},
      {"message request", {2, 25, 1, 14, 30, 0}, {0xB2, 0x13, 0x9E, 0x00}},
      {"telemetry from the satellite", {2, 1, 0, 8, 0, 0}, {0x82, 0x02, 0x00, 0x00}},
      {"every field at its maximum", {3, 31, 31, 63, 63, 255}, {0xFF, 0xFF, 0xFF, 0xFF}},
      {"destination bit 4 alone", {0, 0, 16, 0, 0, 0}, {0x01, 0x00, 0x00, 0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(csp_header_bytes(c.header), c.bytes);
    EXPECT_EQ(fields(unpack_csp_header(c.bytes)), fields(c.header));
    EXPECT_EQ(csp_source(c.bytes), c.header.source);
    EXPECT_EQ(csp_destination_port(c.bytes), c.header.destination_port);
  }
}

}  // namespace

}  // namespace kestrelis
