#include "wire/soft_decode.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <numeric>

#include "wire/reed_solomon.hpp"

namespace kestrelis {

namespace {

// The sync word and the length field before each codeword.
constexpr uint64_t codeword_offset_bits = 32 + 24;

}  // namespace

void soft_detect(SoftDetector& detector, std::span<const int8_t> values,
                 const SoftHandler& handler) {
  SoftDetector& d = detector;
  d.history.insert(d.history.end(), values.begin(), values.end());
  const size_t from = static_cast<size_t>(d.searched_bits - d.history_bit);
  const size_t whole = (d.history.size() - from) / 8;
  std::vector<uint8_t> bytes(whole);
  for (size_t i = 0; i < whole; ++i) {
    unsigned byte = 0;
    for (size_t j = 0; j < 8; ++j)
      byte = (byte << 1) | (d.history[from + 8 * i + j] >= 0 ? 1u : 0u);
    bytes[i] = static_cast<uint8_t>(byte);
  }
  const auto offered = [&](std::span<const uint8_t> codeword, const RobustCandidate& c) {
    const auto at = static_cast<size_t>(c.bit + codeword_offset_bits - d.history_bit);
    return handler.try_codeword(codeword, std::span(d.history).subspan(at, 8 * codeword.size()), c);
  };
  robust_detect(d.robust, bytes, RobustHandler{handler.sync_found, offered});
  d.searched_bits += 8 * whole;
  const uint64_t keep_from = std::min(d.robust.carry_bit, d.searched_bits);
  d.history.erase(d.history.begin(),
                  d.history.begin() + static_cast<ptrdiff_t>(keep_from - d.history_bit));
  d.history_bit = keep_from;
}

std::vector<int> bytes_by_confidence(std::span<const int8_t> soft) {
  // -log P(bit right) for a bit whose log-likelihood ratio is
  // soft_llr_per_value |value|, in units of 2^-20 so that sums are exact.
  static const std::array<int, 129> doubt = [] {
    std::array<int, 129> d{};
    for (size_t m = 0; m < d.size(); ++m) {
      d[m] = static_cast<int>(std::lround(
          std::ldexp(std::log1p(std::exp(-soft_llr_per_value * static_cast<double>(m))), 20)));
    }
    return d;
  }();
  const size_t n = soft.size() / 8;
  std::vector<int> key(n);
  for (size_t i = 0; i < n; ++i) {
    for (size_t j = 8 * i; j < 8 * i + 8; ++j)
      key[i] += doubt[static_cast<size_t>(std::abs(int{soft[j]}))];
  }
  std::vector<int> order(n);
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&key](int a, int b) {
    return key[static_cast<size_t>(a)] > key[static_cast<size_t>(b)];
  });
  return order;
}

ErasureDecode erasure_search(std::span<uint8_t> word, std::span<const int8_t> soft,
                             const std::function<bool(std::span<const uint8_t> word)>& accept) {
  ErasureDecode result;
  if (8 * word.size() != soft.size()) return result;
  const std::vector<int> order = bytes_by_confidence(soft);
  const int limit = std::min(soft_max_erasures, static_cast<int>(order.size()));
  std::array<uint8_t, 255> trial{};
  for (int e = soft_erasure_step; e <= limit; e += soft_erasure_step) {
    const auto t = std::span(trial).first(word.size());
    std::copy(word.begin(), word.end(), t.begin());
    ++result.decodes;
    const int changed =
        rs_decode_erasures(rs_codec(), t, std::span(order).first(static_cast<size_t>(e)));
    if (changed >= 0 && accept(t)) {
      std::copy(t.begin(), t.end(), word.begin());
      result.corrected = changed;
      result.erasures = e;
      return result;
    }
  }
  return result;
}

}  // namespace kestrelis
