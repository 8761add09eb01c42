// The length field's Golay code: the encoder against the frame prefix, and
// the decoder against every error pattern it must correct or detect, with
// the expected codewords taken from make_frame_prefix and a brute-force
// search over all 4096 codewords.

#include "wire/golay.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <vector>

#include "wire/frame.hpp"

namespace kestrelis {

namespace {

// The 24-bit length field of make_frame_prefix for `data`.
uint32_t prefix_field(unsigned data) {
  std::array<uint8_t, frame_prefix_size> prefix{};
  make_frame_prefix(prefix, data);
  return (uint32_t{prefix[4]} << 16) | (uint32_t{prefix[5]} << 8) | prefix[6];
}

std::vector<uint32_t> all_codewords() {
  std::vector<uint32_t> words(4096);
  for (unsigned data = 0; data < words.size(); ++data) words[data] = prefix_field(data);
  return words;
}

// Adds `chosen` with `weight` more bits set among bits 0 ... below - 1, every way.
void add_patterns(std::vector<uint32_t>& out, int weight, int below, uint32_t chosen) {
  if (weight == 0) {
    out.push_back(chosen);
    return;
  }
  for (int bit = weight - 1; bit < below; ++bit) {
    add_patterns(out, weight - 1, bit, chosen | (uint32_t{1} << bit));
  }
}

// Every error pattern of exactly `weight` bits among 24.
std::vector<uint32_t> patterns_of_weight(int weight) {
  std::vector<uint32_t> out;
  add_patterns(out, weight, 24, 0);
  return out;
}

TEST(Golay, EncoderMatchesFramePrefixForEveryValue) {
  for (unsigned data = 0; data < 4096; ++data) {
    ASSERT_EQ(golay24_encode(data), prefix_field(data)) << "data " << data;
  }
  EXPECT_EQ(golay24_encode(0x1000 | 41), prefix_field(41));  // only the low 12 bits count
}

TEST(Golay, CodewordsDifferInAtLeastEightBits) {
  const std::vector<uint32_t> words = all_codewords();
  int lightest = 24;
  for (size_t data = 1; data < words.size(); ++data) {
    lightest = std::min(lightest, std::popcount(words[data]));
  }
  EXPECT_EQ(lightest, 8);
}

TEST(Golay, CorrectsEveryPatternOfUpToThreeWrongBits) {
  std::vector<std::vector<uint32_t>> patterns;
  for (int weight = 0; weight <= 3; ++weight) patterns.push_back(patterns_of_weight(weight));
  EXPECT_EQ(patterns[1].size() + patterns[2].size() + patterns[3].size(), 2324u);
  for (unsigned length : {0u, 33u, 41u, 170u, 255u, 4095u}) {
    SCOPED_TRACE(testing::Message() << "length " << length);
    const uint32_t sent = prefix_field(length);
    for (int weight = 0; weight <= 3; ++weight) {
      for (uint32_t error : patterns[static_cast<size_t>(weight)]) {
        const GolayDecoded got = golay24_decode(sent ^ error);
        ASSERT_EQ(got.data, length) << "error " << std::hex << error;
        ASSERT_EQ(got.wrong_bits, weight) << "error " << std::hex << error;
      }
    }
  }
}

// Every word 4 bits from its nearest codeword is c ^ e for a codeword c and
// one of the 10,626 weight-4 patterns e, so this covers every such word.
TEST(Golay, FourWrongBitsListTheSixCodewordsFourBitsAway) {
  const std::vector<uint32_t> words = all_codewords();
  for (unsigned length : {170u}) {
    SCOPED_TRACE(testing::Message() << "length " << length);
    const uint32_t sent = words[length];
    for (uint32_t error : patterns_of_weight(4)) {
      const uint32_t received = sent ^ error;
      std::vector<uint16_t> expected;
      for (unsigned data = 0; data < words.size(); ++data) {
        const int distance = std::popcount(received ^ words[data]);
        ASSERT_GE(distance, 4) << "error " << std::hex << error;
        if (distance == 4) expected.push_back(static_cast<uint16_t>(data));
      }
      ASSERT_EQ(expected.size(), 6u) << "error " << std::hex << error;
      const GolayDecoded got = golay24_decode(received);
      ASSERT_EQ(got.wrong_bits, 4) << "error " << std::hex << error;
      ASSERT_TRUE(std::ranges::equal(got.nearest, expected)) << "error " << std::hex << error;
    }
  }
}

}  // namespace

}  // namespace kestrelis
