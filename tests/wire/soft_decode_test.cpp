// The soft search hands out each codeword with the soft values of its own
// bits, however the stream is cut, and ranks bytes by their two least sure bits.

#include "wire/soft_decode.hpp"

#include <gtest/gtest.h>

#include <random>
#include <tuple>
#include <vector>

#include "radio/soft_stream.hpp"
#include "radio/test_bit_stream.hpp"

namespace kestrelis {

namespace {

using Bytes = std::vector<uint8_t>;

TEST(SoftDetector, OffersTheSoftValuesOfEachCodewordWhereverTheStreamIsCut) {
  Bytes bits(5);
  put_bytes(bits, 5, list_frame);
  put_bytes(bits, bits.size() + 11, list_frame);
  bits.resize(bits.size() + 16);
  // Each value's magnitude tells where it stands in the stream; 0 is a 1.
  std::vector<int8_t> soft(bits.size());
  for (size_t i = 0; i < soft.size(); ++i) {
    const int m = static_cast<int>(i % 97);
    soft[i] = static_cast<int8_t>(bits[i] ? m : -1 - m);
  }
  std::mt19937 rng(28);
  for (size_t piece : {size_t{1}, size_t{7}, size_t{13}, size_t{480}, soft.size(), size_t{0}}) {
    SCOPED_TRACE(piece);
    SoftDetector d;
    d.robust.sync_bit_errors = 0;
    std::vector<std::pair<uint64_t, size_t>> offers;
    const SoftHandler handler{
        nullptr, [&](std::span<const uint8_t> codeword, std::span<const int8_t> values,
                     const RobustCandidate& c) {
          offers.emplace_back(c.bit, codeword.size());
          const auto expected = std::span(soft).subspan(c.bit + 56, 8 * codeword.size());
          EXPECT_TRUE(std::ranges::equal(values, expected));
          EXPECT_EQ(Bytes(codeword.begin(), codeword.end()), pack_bits(soft_bits_of(expected)));
          return true;
        }};
    for (size_t at = 0, n; at < soft.size(); at += n) {
      n = std::min(piece != 0 ? piece : 1 + rng() % 600, soft.size() - at);
      soft_detect(d, std::span(soft).subspan(at, n), handler);
    }
    EXPECT_EQ(offers, (std::vector<std::pair<uint64_t, size_t>>{{5, 41}, {5 + 8 * 48 + 11, 41}}));
  }
}

// Each byte is listed by its doubtful values; the rest of its eight are sure (63).
TEST(SoftRanking, LeastSureFirstByEachBytesChanceOfAWrongBit) {
  const std::tuple<const char*, std::vector<std::vector<int8_t>>, std::vector<int>> cases[] = {
      {"equally sure bytes keep their order", {{}, {-63}, {}}, {0, 1, 2}},
      {"one bit at 0 is doubted more than two at 20", {{}, {20, -20}, {0}}, {2, 1, 0}},
      {"three bits at 16 are doubted more than one at 8", {{8}, {16, 16, 16}}, {1, 0}},
      {"sign does not matter; -128 is the surest", {{-128, -128}, {-5, 5}, {5, -6}}, {1, 2, 0}},
      {"bits count wherever they are", {{63, 63, 63, 63, 63, 63, 9, 9}, {10, 10}}, {0, 1}},
  };
  for (const auto& [name, bytes, order] : cases) {
    std::vector<int8_t> soft;
    for (std::vector<int8_t> b : bytes) {
      b.resize(8, 63);
      soft.insert(soft.end(), b.begin(), b.end());
    }
    EXPECT_EQ(bytes_by_confidence(soft), order) << name;
  }
}

}  // namespace

}  // namespace kestrelis
