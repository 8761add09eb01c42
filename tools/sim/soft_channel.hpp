#pragma once
// Soft decisions as a modem would make them: for each bit the discriminator's
// value at the decision instant, Gaussian around +1 for a 1 and -1 for a 0,
// scaled and saturated to a signed byte as floor(63.5 x) in -128 ... 127, so
// that "value >= 0" is the slicer's decision and the magnitude its confidence.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "sim/bit_stream.hpp"

namespace kestrelis {

// A share of the values (the discriminator's clicks) comes from a Gaussian
// this many times wider.
constexpr double soft_tail_spread = 4;
constexpr int soft_table_bits = 16;

// The channel as a table: the soft value of a 1 at each of 2^16 equally
// likely quantiles; that of a 0 is its mirror, -1 - value.
struct SoftChannel {
  double sigma = 0;  // of the narrow Gaussian
  std::array<int8_t, size_t{1} << soft_table_bits> one{};
};

// The channel whose values have the wrong sign with probability
// `bit_error_rate` (0 to 0.5), `tail_share` (0 to 1) of them from the wide
// Gaussian: sigma is chosen so that both together give the rate.
[[nodiscard]] SoftChannel make_soft_channel(double bit_error_rate, double tail_share);

// floor(63.5 x) saturated to -128 ... 127.
[[nodiscard]] int8_t soft_value(double x);

// Appends one soft value per bit of `packed` (most significant bit first)
// to `out`, 8 per byte.
void append_soft(SimRandom& random, const SoftChannel& channel, std::span<const uint8_t> packed,
                 std::vector<uint8_t>& out);

}  // namespace kestrelis
