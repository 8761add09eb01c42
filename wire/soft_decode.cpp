#include "wire/soft_decode.hpp"

#include <algorithm>

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

}  // namespace kestrelis
