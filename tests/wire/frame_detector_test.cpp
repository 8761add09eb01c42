// The frame detector on two frames of the "list" command back to back, at
// every bit offset, fed whole and a byte at a time: the sync word may have one
// wrong bit in each of its first two bytes and none in the others, and the
// byte after a codeword may start the next sync word.

#include "wire/frame_detector.hpp"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "radio/test_bit_stream.hpp"

namespace kestrelis {

namespace {

using Bytes = std::vector<uint8_t>;

TEST(FrameDetector, SyncWordAndCodewordAtEveryBitOffset) {
  // Name, bits flipped in the sync word of both frames, whether they are found.
  const std::tuple<const char*, std::array<uint8_t, 4>, bool> cases[] = {
      {"exact", {}, true},
      {"one wrong bit in the first byte", {0x10}, true},
      {"one wrong bit in each of the first two bytes", {0x01, 0x80}, true},
      {"two wrong bits in the first byte", {0x11}, false},
      {"two wrong bits in the second byte", {0, 0x06}, false},
      {"one wrong bit in the third byte", {0, 0, 0x02}, false},
      {"one wrong bit in the fourth byte", {0, 0, 0, 0x40}, false},
  };
  const Bytes codeword(list_frame.begin() + frame_prefix_size, list_frame.end());
  for (const auto& [name, flips, found] : cases) {
    for (size_t lead = 0; lead < 8; ++lead) {
      for (const size_t piece : {1, 1000}) {
        SCOPED_TRACE(testing::Message()
                     << name << ", " << lead << " bits first, pieces of " << piece);
        Bytes frame = list_frame;
        for (size_t k = 0; k < 4; ++k) frame[k] ^= flips[k];
        Bytes bits(lead);
        put_bytes(bits, lead, frame);
        put_bytes(bits, bits.size(), frame);
        bits.resize(bits.size() + 16);
        const Bytes stream = pack_bits(bits);
        std::vector<std::pair<uint64_t, Bytes>> events;
        size_t base = 0;
        const auto bit_of = [&](StreamPoint at) { return (base + at.byte) * 8 + uint64_t(at.bit); };
        const FrameHandler handler{
            [&](StreamPoint at) { events.emplace_back(bit_of(at), Bytes{}); },
            [&](std::span<const uint8_t> word, StreamPoint at) {
              events.emplace_back(bit_of(at), Bytes(word.begin(), word.end()));
            }};
        FrameDetector detector;
        for (base = 0; base < stream.size(); base += piece) {
          const size_t size = std::min(piece, stream.size() - base);
          detect_frames(detector, std::span(stream).subspan(base, size), handler);
        }
        std::vector<std::pair<uint64_t, Bytes>> expected;
        for (size_t f = 0; found && f < 2; ++f) {
          expected.emplace_back(lead + 8 * list_frame.size() * f + 31, Bytes{});
          expected.emplace_back(lead + 8 * list_frame.size() * (f + 1) + 7, codeword);
        }
        EXPECT_EQ(events, expected);
      }
    }
  }
}

}  // namespace

}  // namespace kestrelis
