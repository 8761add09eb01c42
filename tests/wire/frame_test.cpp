// The frame format where the golden transcript cannot anchor it, since the test
// builds its frames with the same code: the CRC-32C check value, the randomiser
// from its generator, the largest payload, and the CSP header fields at their edges.

#include "wire/frame.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "radio/test_bit_stream.hpp"
#include "wire/csp.hpp"

namespace kestrelis {

namespace {

TEST(Frame, RandomizerFollowsItsGenerator) {
  // Cells c0 ... c7 all one; output c0, shift down, c7 = c0 ^ c3 ^ c5 ^ c7.
  std::array<int, 8> c{1, 1, 1, 1, 1, 1, 1, 1};
  std::array<uint8_t, 255> expected{};
  for (size_t k = 0; k < 8 * expected.size(); ++k) {
    expected[k / 8] = static_cast<uint8_t>(expected[k / 8] | c[0] << (7 - k % 8));
    const int next = c[0] ^ c[3] ^ c[5] ^ c[7];
    std::copy(c.begin() + 1, c.end(), c.begin());
    c[7] = next;
  }
  EXPECT_EQ(pn_sequence, expected);
}

// The check value of CRC-32C; the frame of the "list" command, as the golden
// transcript has it; the largest payload fills the 255-byte codeword, one byte
// more builds nothing.
TEST(Frame, Crc32cListFrameAndTheLargestPayload) {
  const uint8_t digits[] = {0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39};
  EXPECT_EQ(crc32c(digits), 0xE3069283u);
  const auto header = std::to_array<uint8_t>({0xB2, 0x13, 0x8E, 0x00});  // 25 to 1, ports 14
  EXPECT_EQ(build_frame(header, std::vector<uint8_t>{0x4C}), list_frame);
  EXPECT_EQ(build_frame(header, std::vector<uint8_t>(max_payload_size)).size(),
            frame_prefix_size + 255);
  EXPECT_TRUE(build_frame(header, std::vector<uint8_t>(max_payload_size + 1)).empty());
}

// priority:2 | source:5 | destination:5 | destination_port:6 | source_port:6 | flags:8. The
// headers the station sends and receives are in the golden transcript; these are the edges.
TEST(Csp, HeaderFieldsAtTheirEdges) {
  const std::pair<CspHeader, std::array<uint8_t, 4>> cases[] = {
      {{3, 31, 31, 63, 63, 255}, {0xFF, 0xFF, 0xFF, 0xFF}},  // every field at its maximum
      {{0, 0, 16, 0, 0, 0}, {0x01, 0x00, 0x00, 0x00}},       // destination bit 4 alone
  };
  for (const auto& [header, bytes] : cases) {
    EXPECT_EQ(csp_header_bytes(header), bytes);
    EXPECT_EQ(csp_header_bytes(unpack_csp_header(bytes)), bytes);
    EXPECT_EQ(csp_source(bytes), header.source);
    EXPECT_EQ(csp_destination_port(bytes), header.destination_port);
  }
}

}  // namespace

}  // namespace kestrelis
