#include "load/load_stream.hpp"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "radio/receive.hpp"
#include "support/gui_capture.hpp"

namespace {

TEST(LoadStream, BitsArePackedMostSignificantFirstAcrossBytes) {
  BitPacker p;
  pack_bits(p, 0b101, 3);
  pack_bits(p, 0x1FF, 9);  // only the low 9 bits count
  pack_bits(p, 0x2A, 6);
  const uint8_t whole[] = {0xC3};
  pack_bytes(p, whole);
  pack_bits(p, 0b011111, 6);
  // 101 111111111 101010 11000011 011111
  EXPECT_EQ(p.bytes, (std::vector<uint8_t>{0xBF, 0xFA, 0xB0, 0xDF}));
  EXPECT_EQ(p.count, 0);
}

// The noise stream through the TNC's own receive chain: every planted frame
// reaches the GUI once and intact, whatever its bit offset and however the
// stream is cut into datagrams.
TEST(LoadStream, PlantedFramesComeThroughTheReceiveChainOnceEach) {
  constexpr uint64_t seed = 7;
  SCOPED_TRACE(seed);
  OutputCapture capture;
  NoiseStream stream = make_noise_stream(seed, 4'000'000, 20'000, 100);
  FrameDetector detector;
  std::vector<uint8_t> piece(2048);
  size_t size = 1;
  uint64_t bytes = 0;
  while (const size_t n = next_noise_bytes(stream, std::span(piece).first(size))) {
    receive_bytes(detector, std::span(piece).first(n));
    bytes += n;
    size = size * 7 % 2039 + 1;
  }
  EXPECT_EQ(bytes, 500'000u);
  ASSERT_GT(stream.planted.size(), 150u);
  std::map<uint32_t, int> seen;
  for (const auto& data : capture.gui_frames()) {
    const auto packet = read_load_packet(data);
    ASSERT_TRUE(packet);
    EXPECT_EQ(packet->section, 'b');
    EXPECT_TRUE(packet->intact) << packet->seq;
    ++seen[packet->seq];
  }
  std::map<uint32_t, int> planted;
  uint64_t previous_end = 0;
  std::set<uint64_t> phases;
  for (const PlantedFrame& f : stream.planted) {
    planted[f.seq] = 1;
    EXPECT_GE(f.bit_offset, previous_end + 16);
    previous_end = f.bit_offset + 47 * 8;
    phases.insert(f.bit_offset % 8);
  }
  EXPECT_EQ(seen, planted);
  EXPECT_EQ(phases.size(), 8u);
  EXPECT_EQ(planted.begin()->first, 100u);
}

TEST(LoadStream, DamagedPacketsAreToldFromIntactOnes) {
  std::vector<uint8_t> data = {0x50, 'K', 'L', 'a', 0, 0, 1, 2, 12, 0, 0, 0, 0};
  auto packet = read_load_packet(data);
  ASSERT_TRUE(packet);
  EXPECT_EQ(packet->seq, 0x0102u);
  EXPECT_FALSE(packet->intact);  // the filler is not the one drawn from 0x0102
  EXPECT_FALSE(read_load_packet(std::span(data).first(8)));  // too short
  data[1] = 'X';
  EXPECT_FALSE(read_load_packet(data));
}

}  // namespace
