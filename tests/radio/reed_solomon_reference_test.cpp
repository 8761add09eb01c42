// The codec against libfec's encode_rs_8 / decode_rs_8, an independent
// implementation of the same conventional-basis RS(255,223) code.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "radio/reed_solomon.hpp"

#if KESTRELIS_HAVE_LIBFEC
extern "C" {
#include <fec.h>
}

namespace {

// Every pad from 0 to 222 in turn, with random data and 0 ... 32 random
// symbol errors. Parity is equal. Up to 16 errors both restore the word with
// the same count; beyond, both fail or both succeed with the same word.
TEST(ReedSolomonReference, RandomWordsAgree) {
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

}  // namespace

#else

TEST(ReedSolomonReference, Skipped) {
  GTEST_SKIP() << "libfec (fec.h) was not found: no differential tests against the reference";
}

#endif
