#include "wire/reed_solomon.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <ranges>
#include <vector>

#if KESTRELIS_HAVE_LIBFEC
extern "C" {
#include <fec.h>
}
#endif

namespace kestrelis {

namespace {

// Words of 33 ... 255 bytes with at most 32 erasures, each of a distinct stored
// byte: nothing else is decoded, and a refused word is left as it was. Nor is a
// word with no codeword of the shortened code within 16 symbols, which the plain
// algorithm would report as corrected.
TEST(ReedSolomon, OutOfRangeArgumentsAndNonCodewordsAreRefused) {
  const RsCodec& codec = rs_codec();
  // A 9-byte packet and room for its parity at pad 214.
  std::vector<uint8_t> codeword = {0xB2, 0x13, 0x8E, 0x00, 0x4C, 0x2A, 0xC1, 0xFD, 0x4C};
  codeword.resize(41);
  ASSERT_TRUE(rs_encode(codec, codeword, std::span(codeword).last<rs_parity_size>(), 214));
  std::vector<uint8_t> damaged = codeword;
  damaged[3] ^= 0x41;
  // g(x) / (x + beta_0), highest power first: zero at every root but the first, for which
  // the locator comes out as 1, so "0 errors": a locator shorter than its register. Errors
  // located among the pad zeros are refused in the test of every pad below.
  std::vector<uint8_t> first_root_only(41);
  uint8_t q = 1;
  for (size_t k = 0; k < rs_parity_size; ++k) {
    first_root_only[9 + k] = q;
    const uint8_t q_beta = q == 0 ? 0 : codec.exp_table[(codec.log_table[q] + 1232) % 255];
    q = static_cast<uint8_t>(codec.exp_table[codec.generator[31 - k]] ^ q_beta);
  }
  std::vector<int> too_many(33);
  std::iota(too_many.begin(), too_many.end(), 0);
  // Words of 0, 32 and 256 bytes; each bad erasure list on a damaged word and on a codeword.
  std::vector<std::pair<std::vector<uint8_t>, std::vector<int>>> cases = {
      {{}, {}}, {std::vector<uint8_t>(32), {}}, {std::vector<uint8_t>(256), {}}};
  cases.emplace_back(first_root_only, std::vector<int>{});
  for (const std::vector<int>& erasures :
       std::vector<std::vector<int>>{{-1}, {41}, {254}, {3, 7, 3}, {5, 5}, too_many}) {
    cases.emplace_back(damaged, erasures);
    cases.emplace_back(codeword, erasures);
  }
  for (const auto& [received, erasures] : cases) {
    SCOPED_TRACE(testing::Message()
                 << received.size() << " bytes, " << erasures.size() << " erasures");
    std::vector<uint8_t> word = received;
    EXPECT_EQ(rs_decode_erasures(codec, word, erasures), -1);
    // rs_decode takes no erasures.
    EXPECT_EQ(erasures.empty() ? rs_decode(codec, word) : -1, -1);
    EXPECT_EQ(word, received);
  }
}

// A random codeword at `pad` and the same word with `erasures` bytes given as
// erased (set to random values, so some stay right) and `errors` other bytes
// changed; the erasure indices in random order.
struct Damaged {
  std::vector<uint8_t> clean;
  std::vector<uint8_t> received;
  std::vector<int> erasures;
};

Damaged damage(std::mt19937& rng, int pad, int erasures, int errors) {
  Damaged d;
  d.clean.resize(static_cast<size_t>(255 - pad));
  std::ranges::generate(d.clean, [&] { return static_cast<uint8_t>(rng()); });
  EXPECT_TRUE(rs_encode(rs_codec(), d.clean, std::span(d.clean).last<rs_parity_size>(), pad));
  std::vector<int> order(d.clean.size());
  std::iota(order.begin(), order.end(), 0);
  std::ranges::shuffle(order, rng);
  d.received = d.clean;
  d.erasures.assign(order.begin(), order.begin() + erasures);
  for (int b : d.erasures) d.received[static_cast<size_t>(b)] = static_cast<uint8_t>(rng());
  for (int i = erasures; i < erasures + errors; ++i) {
    d.received[static_cast<size_t>(order[static_cast<size_t>(i)])] ^=
        static_cast<uint8_t>(1 + rng() % 255);
  }
  return d;
}

int bytes_differing(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  return static_cast<int>(std::ranges::count_if(std::views::iota(size_t{0}, a.size()),
                                                [&](size_t i) { return a[i] != b[i]; }));
}

// Decodes `d` with rs_decode (`plain`, no erasures) or rs_decode_erasures. Within the bound
// the word is restored, with the count of bytes changed; beyond it, it is refused and left as
// it was, or decodes to another codeword within the bound, which the CRC has to catch. With
// libfec, an independent implementation of the same code, it gives the same codeword
// whenever it decodes, and rs_decode refuses the same words.
void check_decode(const Damaged& d, [[maybe_unused]] int pad, bool within, bool plain) {
  std::vector<uint8_t> ours = d.received;
  const int count =
      plain ? rs_decode(rs_codec(), ours) : rs_decode_erasures(rs_codec(), ours, d.erasures);
  if (within) {
    ASSERT_EQ(ours, d.clean);
    ASSERT_EQ(count, bytes_differing(d.received, d.clean));
  } else if (count < 0) {
    ASSERT_EQ(ours, d.received);
  } else {
    ASSERT_NE(ours, d.clean);
    ASSERT_EQ(count, bytes_differing(d.received, ours));
    std::vector<uint8_t> again = ours;
    ASSERT_EQ(rs_decode(rs_codec(), again), 0) << "not a codeword";
    for (int b : d.erasures) again[static_cast<size_t>(b)] = d.received[static_cast<size_t>(b)];
    ASSERT_LE(2 * bytes_differing(d.received, again) + static_cast<int>(d.erasures.size()),
              rs_parity_size);
  }
#if KESTRELIS_HAVE_LIBFEC
  std::vector<uint8_t> theirs = d.received;
  std::array<int, rs_parity_size + 1> positions{};  // libfec writes back up to 32
  std::ranges::copy(d.erasures, positions.begin());
  const int their_count =
      decode_rs_8(theirs.data(), positions.data(), static_cast<int>(d.erasures.size()), pad);
  ASSERT_EQ(count < 0, plain ? their_count < 0 : count < 0);
  ASSERT_EQ(ours, count < 0 ? d.received : theirs);
#endif
}

// Every pair of pad (0 ... 222) and erasure count (0 ... 32), once with errors
// filling the rest of the bound and once with one error (or erasure) more. At
// each pair, rs_decode also meets a word with 0 ... 32 errors.
TEST(ReedSolomon, ErasuresDecodeWithinTheBoundOnly) {
  std::mt19937 rng(2812);
  for (int trial = 0; trial < 2 * 223 * 33; ++trial) {
    const int pad = trial % 223;
    const int erasures = trial % 33;
    const bool beyond = trial >= 223 * 33;
    SCOPED_TRACE(testing::Message() << "trial " << trial << " pad " << pad << " erasures "
                                    << erasures << (beyond ? " beyond" : ""));
    const int plain_errors = static_cast<int>(rng() % 33);
    ASSERT_NO_FATAL_FAILURE(
        check_decode(damage(rng, pad, 0, plain_errors), pad, plain_errors <= 16, true));
    const int errors = (rs_parity_size - erasures) / 2 + (beyond && erasures < 32 ? 1 : 0);
    const int extra = beyond && erasures == 32 ? 1 : 0;
    if (255 - pad < erasures + extra + errors) continue;
    ASSERT_NO_FATAL_FAILURE(
        check_decode(damage(rng, pad, erasures + extra, errors), pad, !beyond, false));
  }
}

}  // namespace

}  // namespace kestrelis
