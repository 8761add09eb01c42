#include "wire/reed_solomon.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#if KESTRELIS_HAVE_LIBFEC
extern "C" {
#include <fec.h>
}
#endif

namespace kestrelis {

namespace {

// A 9-byte packet and room for its parity at pad 214. Words that correct are in
// the golden transcript and the differential test below.
const std::vector<uint8_t> packet_word = [] {
  std::vector<uint8_t> w = {0xB2, 0x13, 0x8E, 0x00, 0x4C, 0x2A, 0xC1, 0xFD, 0x4C};
  w.resize(41);
  return w;
}();

TEST(ReedSolomon, OutOfRangeArgumentsAreRefused) {
  for (int pad : {-1, 223, 255}) EXPECT_FALSE(rs_init(pad)) << pad;
  const RsCodec codec = *rs_init(0);
  std::array<uint8_t, rs_parity_size> parity{};
  parity.fill(0xEE);
  // An empty span has no byte to read: any access would be out of bounds.
  for (int pad = 223; pad <= 255; ++pad) EXPECT_EQ(rs_decode(codec, {}, pad), -1) << pad;
  EXPECT_EQ(rs_decode(codec, {}, -1), -1);
  std::vector<uint8_t> short_word(packet_word.begin(), packet_word.end() - 1);
  EXPECT_EQ(rs_decode(codec, short_word, 214), -1);
  EXPECT_FALSE(rs_encode(codec, {}, parity, 224));
  EXPECT_FALSE(rs_encode(codec, {}, parity, -1));
  EXPECT_FALSE(rs_encode(codec, std::span(packet_word).first(8), parity, 214));
  EXPECT_EQ(parity[0], 0xEE);
  ASSERT_TRUE(rs_encode(codec, {}, parity, 223));
  EXPECT_EQ(parity, (std::array<uint8_t, rs_parity_size>{}));
}

// Words with no codeword of the shortened code within 16 symbols, which the
// plain algorithm would report as corrected.
TEST(ReedSolomon, NonCodewordsAreNotReportedCorrected) {
  const RsCodec codec = *rs_init(213);
  // Parity computed as if the pad zero just before the data held 0x5A.
  std::vector<uint8_t> padded = {0x5A};
  padded.insert(padded.end(), packet_word.begin(), packet_word.begin() + 9);
  std::vector<uint8_t> pad_error = packet_word;
  ASSERT_TRUE(rs_encode(codec, padded, std::span(pad_error).last<rs_parity_size>(), 213));

  // g(x) / (x + beta_0), highest power first: zero at every root but the
  // first, for which the locator comes out as 1, so "0 errors".
  std::vector<uint8_t> first_root_only(41);
  uint8_t q = 1;
  for (size_t k = 0; k < rs_parity_size; ++k) {
    first_root_only[9 + k] = q;
    const uint8_t q_beta = q == 0 ? 0 : codec.exp_table[(codec.log_table[q] + 1232) % 255];
    q = static_cast<uint8_t>(codec.exp_table[codec.generator[31 - k]] ^ q_beta);
  }

  // An error among the pad zeros; a locator shorter than its register.
  for (const std::vector<uint8_t>& received : {pad_error, first_root_only}) {
    std::vector<uint8_t> word = received;
    EXPECT_EQ(rs_decode(codec, word, 214), -1);
    EXPECT_EQ(word, received);
  }
}

// The differential test against libfec's encode_rs_8 / decode_rs_8, an
// independent implementation of the same conventional-basis RS(255,223) code.
#if KESTRELIS_HAVE_LIBFEC
// Every pad from 0 to 222 in turn, with random data and 0 ... 32 random
// symbol errors. Parity is equal. Up to 16 errors both restore the word with
// the same count; beyond, both fail or both succeed with the same word.
TEST(ReedSolomon, AgreesWithLibfecOnRandomWords) {
  const unsigned seed = 7002;
  std::mt19937 rng(seed);
  for (int trial = 0; trial < 6000; ++trial) {
    SCOPED_TRACE(testing::Message() << "seed " << seed << " trial " << trial);
    const int pad = trial % 223;
    const int errors = static_cast<int>(rng() % 33);
    std::vector<uint8_t> clean(static_cast<size_t>(255 - pad));
    std::ranges::generate(clean, [&] { return static_cast<uint8_t>(rng()); });
    std::array<uint8_t, rs_parity_size> ours_parity{};
    ASSERT_TRUE(rs_encode(*rs_init(pad), clean, ours_parity, pad));
    encode_rs_8(clean.data(), clean.data() + clean.size() - rs_parity_size, pad);
    ASSERT_TRUE(std::ranges::equal(ours_parity, std::span(clean).last<rs_parity_size>()));

    std::vector<uint8_t> ours = clean;
    for (size_t i = clean.size() - 1, left = static_cast<size_t>(errors); left > 0; --i) {
      if (rng() % (i + 1) < left) {  // picks `errors` distinct positions
        ours[i] ^= static_cast<uint8_t>(1 + rng() % 255);
        --left;
      }
    }
    std::vector<uint8_t> theirs = ours;
    const std::vector<uint8_t> received = ours;
    const int our_count = rs_decode(*rs_init(pad), ours, pad);
    const int their_count = decode_rs_8(theirs.data(), nullptr, 0, pad);
    if (errors <= 16) {
      ASSERT_EQ(our_count, errors);
      ASSERT_EQ(their_count, errors);
      ASSERT_EQ(ours, clean);
    } else {
      ASSERT_EQ(our_count < 0, their_count < 0);
      ASSERT_EQ(ours, our_count < 0 ? received : theirs);
    }
  }
}

#else
TEST(ReedSolomon, AgreesWithLibfecOnRandomWords) {
  GTEST_SKIP() << "libfec (fec.h) was not found: no differential test against it";
}
#endif

}  // namespace

}  // namespace kestrelis
