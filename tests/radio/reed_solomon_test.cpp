#include "radio/reed_solomon.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <thread>
#include <vector>

namespace {

// The 9-byte packet of the one-byte payload 0x4C and its parity at pad 214.
const std::vector<uint8_t> packet = {0xB2, 0x13, 0x8E, 0x00, 0x4C, 0x2A, 0xC1, 0xFD, 0x4C};
const std::vector<uint8_t> packet_parity = {
    0xDB, 0x97, 0xD4, 0xF5, 0x25, 0x40, 0x6F, 0xE8, 0x35, 0x0D, 0xF8, 0xE4, 0xF0, 0x3E, 0x95, 0x8A,
    0x3B, 0x09, 0x6E, 0xBE, 0x5A, 0xE2, 0x33, 0x1B, 0x15, 0xE2, 0x84, 0x50, 0x24, 0xD8, 0x0A, 0x61};

std::vector<uint8_t> packet_word() {
  std::vector<uint8_t> word = packet;
  word.insert(word.end(), packet_parity.begin(), packet_parity.end());
  return word;
}

TEST(ReedSolomon, InitRangeAndTables) {
  for (int pad : {-1, 223, 255}) EXPECT_FALSE(rs_init(pad)) << pad;
  ASSERT_TRUE(rs_init(222));
  const RsCodec c = *rs_init(0);
  EXPECT_EQ(c.exp_table[1], 2);
  EXPECT_EQ(c.exp_table[8], 0x87);
  EXPECT_EQ(c.exp_table[254], 0xC3);
  EXPECT_EQ(c.exp_table[255], 0);
  EXPECT_EQ(c.log_table[2], 1);
  EXPECT_EQ(c.log_table[0], 255);
  const std::array<uint8_t, 33> generator = {0,   249, 59, 66,  4,   43, 126, 251, 97, 30,  3,
                                             213, 50,  66, 170, 5,   24, 5,   170, 66, 50,  213,
                                             3,   30,  97, 251, 126, 43, 4,   66,  59, 249, 0};
  EXPECT_EQ(c.generator, generator);
  EXPECT_EQ(c.root_step_inverse, 116);
}

TEST(ReedSolomon, PacketParityAndCleanDecode) {
  const RsCodec codec = *rs_init(214);
  std::array<uint8_t, rs_parity_size> parity{};
  ASSERT_TRUE(rs_encode(codec, packet, parity, 214));
  EXPECT_EQ(std::vector<uint8_t>(parity.begin(), parity.end()), packet_parity);
  std::vector<uint8_t> word = packet_word();
  EXPECT_EQ(rs_decode(codec, word, 214), 0);
  EXPECT_EQ(word, packet_word());
}

TEST(ReedSolomon, SixteenErrorsCorrectedAnywhere) {
  const unsigned seed = 20240611;
  std::mt19937 rng(seed);
  for (int pad : {214, 0}) {
    const RsCodec codec = *rs_init(pad);
    std::vector<uint8_t> clean(static_cast<size_t>(255 - pad));
    for (int trial = 0; trial < 50; ++trial) {
      SCOPED_TRACE(testing::Message() << "seed " << seed << " pad " << pad << " trial " << trial);
      std::ranges::generate(clean, [&] { return static_cast<uint8_t>(rng()); });
      ASSERT_TRUE(rs_encode(codec, clean, std::span(clean).last<rs_parity_size>(), pad));
      std::vector<size_t> positions(clean.size());
      std::iota(positions.begin(), positions.end(), size_t{0});
      std::shuffle(positions.begin(), positions.end(), rng);
      std::vector<uint8_t> word = clean;
      for (size_t i = 0; i < 16; ++i) word[positions[i]] ^= static_cast<uint8_t>(1 + rng() % 255);
      ASSERT_EQ(rs_decode(codec, word, pad), 16);
      ASSERT_EQ(word, clean);
    }
  }
}

TEST(ReedSolomon, OutOfRangeArgumentsAreRefused) {
  const RsCodec codec = *rs_init(0);
  std::array<uint8_t, rs_parity_size> parity{};
  parity.fill(0xEE);
  // An empty span has no byte to read: any access would be out of bounds.
  for (int pad = 223; pad <= 255; ++pad) EXPECT_EQ(rs_decode(codec, {}, pad), -1) << pad;
  EXPECT_EQ(rs_decode(codec, {}, -1), -1);
  std::vector<uint8_t> short_word(40);
  EXPECT_EQ(rs_decode(codec, short_word, 214), -1);
  EXPECT_FALSE(rs_encode(codec, {}, parity, 224));
  EXPECT_FALSE(rs_encode(codec, {}, parity, -1));
  EXPECT_FALSE(rs_encode(codec, std::span(packet).first(8), parity, 214));
  EXPECT_EQ(parity[0], 0xEE);
  ASSERT_TRUE(rs_encode(codec, {}, parity, 223));
  EXPECT_EQ(parity, (std::array<uint8_t, rs_parity_size>{}));
}

// Words that a decoder following the plain algorithm would report as
// corrected although no codeword of the shortened code lies within 16 symbols.
TEST(ReedSolomon, NonCodewordsAreNotReportedCorrected) {
  const RsCodec codec = *rs_init(213);
  // Parity computed as if the pad zero just before the data held 0x5A: a
  // single error among the pad positions.
  std::vector<uint8_t> padded = {0x5A};
  padded.insert(padded.end(), packet.begin(), packet.end());
  std::vector<uint8_t> pad_error = packet;
  pad_error.resize(packet.size() + rs_parity_size);
  ASSERT_TRUE(rs_encode(codec, padded, std::span(pad_error).last<rs_parity_size>(), 213));

  // g(x) / (x + beta_0): zero at every root but the first, so the locator
  // comes out as 1 and the plain algorithm finds "0 errors".
  const auto& exp = codec.exp_table;
  const auto& log = codec.log_table;
  const auto mul = [&](uint8_t a, int b_log) {
    return a == 0 ? uint8_t{0} : exp[static_cast<size_t>((log[a] + b_log) % 255)];
  };
  std::vector<uint8_t> first_root_only(255 - 214);  // highest power first
  uint8_t q = 1;                                    // coefficient of x^31
  for (size_t k = 0; k < rs_parity_size; ++k) {
    first_root_only[first_root_only.size() - rs_parity_size + k] = q;
    q = static_cast<uint8_t>(exp[codec.generator[31 - k]] ^ mul(q, 112 * 11 % 255));
  }

  struct Case {
    const char* name;
    std::vector<uint8_t> word;
  };
  for (const Case& c : {Case{"error among the pad zeros", pad_error},
                        Case{"locator shorter than its register", first_root_only}}) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> word = c.word;
    const int pad = 255 - static_cast<int>(word.size());
    EXPECT_EQ(rs_decode(codec, word, pad), -1);
    EXPECT_EQ(word, c.word);
  }
}

TEST(ReedSolomonThreads, TwoThreadsEncodeAndDecode) {
  const auto work = [](unsigned seed, bool* ok) {
    std::mt19937 rng(seed);
    for (int trial = 0; trial < 200 && *ok; ++trial) {
      const int pad = static_cast<int>(rng() % 216);
      const RsCodec codec = *rs_init(pad);
      std::vector<uint8_t> clean(static_cast<size_t>(255 - pad));
      std::ranges::generate(clean, [&] { return static_cast<uint8_t>(rng()); });
      *ok = rs_encode(codec, clean, std::span(clean).last<rs_parity_size>(), pad);
      std::vector<uint8_t> word = clean;
      word[rng() % word.size()] ^= 0x81;
      *ok = *ok && rs_decode(codec, word, pad) == 1 && word == clean;
    }
  };
  bool ok1 = true, ok2 = true;
  std::thread t1(work, 1u, &ok1), t2(work, 2u, &ok2);
  t1.join();
  t2.join();
  EXPECT_TRUE(ok1) << "seed 1";
  EXPECT_TRUE(ok2) << "seed 2";
}

}  // namespace
