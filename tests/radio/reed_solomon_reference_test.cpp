// The codec against libfec's encode_rs_8 / decode_rs_8, an independent
// implementation of the same conventional-basis RS(255,223) code.

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

#include "radio/reed_solomon.hpp"

#if KESTRELIS_HAVE_LIBFEC
extern "C" {
#include <fec.h>
}

namespace {

struct Damaged {
  std::vector<uint8_t> clean;
  std::vector<uint8_t> word;
};

// A random codeword at `pad` with `errors` distinct symbols changed.
Damaged random_damaged_word(std::mt19937& rng, int pad, int errors) {
  Damaged d;
  d.clean.resize(static_cast<size_t>(255 - pad));
  std::ranges::generate(d.clean, [&] { return static_cast<uint8_t>(rng()); });
  encode_rs_8(d.clean.data(), d.clean.data() + d.clean.size() - rs_parity_size, pad);
  std::vector<size_t> positions(d.clean.size());
  std::iota(positions.begin(), positions.end(), size_t{0});
  std::shuffle(positions.begin(), positions.end(), rng);
  d.word = d.clean;
  for (int i = 0; i < errors; ++i) {
    d.word[positions[static_cast<size_t>(i)]] ^= static_cast<uint8_t>(1 + rng() % 255);
  }
  return d;
}

TEST(ReedSolomonReference, ParityEqualForEveryLength) {
  const unsigned seed = 7001;
  std::mt19937 rng(seed);
  for (int pad = 0; pad <= 223; ++pad) {
    SCOPED_TRACE(testing::Message() << "seed " << seed << " pad " << pad);
    std::vector<uint8_t> data(static_cast<size_t>(223 - pad));
    std::ranges::generate(data, [&] { return static_cast<uint8_t>(rng()); });
    std::array<uint8_t, rs_parity_size> ours{};
    std::array<uint8_t, rs_parity_size> theirs{};
    ASSERT_TRUE(rs_encode(*rs_init(0), data, ours, pad));
    encode_rs_8(data.data(), theirs.data(), pad);
    ASSERT_EQ(ours, theirs);
  }
}

TEST(ReedSolomonReference, CorrectableWordsAgree) {
  const unsigned seed = 7002;
  std::mt19937 rng(seed);
  for (int trial = 0; trial < 3000; ++trial) {
    const int pad = static_cast<int>(rng() % 216);
    const int errors = static_cast<int>(rng() % 17);
    SCOPED_TRACE(testing::Message() << "seed " << seed << " trial " << trial);
    Damaged d = random_damaged_word(rng, pad, errors);
    std::vector<uint8_t> reference = d.word;
    const int theirs = decode_rs_8(reference.data(), nullptr, 0, pad);
    ASSERT_EQ(rs_decode(*rs_init(pad), d.word, pad), errors);
    ASSERT_EQ(theirs, errors);
    ASSERT_EQ(d.word, d.clean);
  }
}

TEST(ReedSolomonReference, OverCapacityWordsAgree) {
  const unsigned seed = 7003;
  std::mt19937 rng(seed);
  for (int trial = 0; trial < 2000; ++trial) {
    const int pad = static_cast<int>(rng() % 216);
    const int errors = 17 + static_cast<int>(rng() % 16);
    SCOPED_TRACE(testing::Message() << "seed " << seed << " trial " << trial);
    Damaged d = random_damaged_word(rng, pad, errors);
    std::vector<uint8_t> reference = d.word;
    const std::vector<uint8_t> received = d.word;
    const int ours = rs_decode(*rs_init(pad), d.word, pad);
    const int theirs = decode_rs_8(reference.data(), nullptr, 0, pad);
    ASSERT_EQ(ours < 0, theirs < 0);
    ASSERT_EQ(d.word, ours < 0 ? received : reference);
  }
}

// The reference too refuses a word whose only error lies among the pad zeros.
TEST(ReedSolomonReference, ErrorAmongPadZerosIsRefused) {
  std::vector<uint8_t> padded(10 + rs_parity_size, 0);
  padded[0] = 0x5A;  // the pad zero just before the 9 data bytes of a pad-214 word
  encode_rs_8(padded.data(), padded.data() + 10, 213);
  std::vector<uint8_t> word(padded.begin() + 1, padded.end());
  EXPECT_LT(decode_rs_8(word.data(), nullptr, 0, 214), 0);
}

}  // namespace

#else

TEST(ReedSolomonReference, Skipped) {
  GTEST_SKIP() << "libfec (fec.h) was not found: no differential tests against the reference";
}

#endif
