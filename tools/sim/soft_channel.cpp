#include "sim/soft_channel.hpp"

#include <algorithm>
#include <cmath>

namespace kestrelis {

namespace {

// P(X < x) for X ~ N(mean, sigma).
double normal_below(double x, double mean, double sigma) {
  return 0.5 * std::erfc((mean - x) / (sigma * std::sqrt(2.0)));
}

// P(value < x) for the value of a sent 1.
double one_below(double x, double sigma, double tail_share) {
  return (1 - tail_share) * normal_below(x, 1, sigma) +
         tail_share * normal_below(x, 1, sigma * soft_tail_spread);
}

}  // namespace

int8_t soft_value(double x) {
  return static_cast<int8_t>(std::clamp(std::floor(63.5 * x), -128.0, 127.0));
}

SoftChannel make_soft_channel(double bit_error_rate, double tail_share) {
  SoftChannel c;
  if (bit_error_rate <= 0) {
    c.one.fill(soft_value(1));
    return c;
  }
  // The wrong-sign probability grows with sigma: bisect on its logarithm.
  double low = std::log(1e-3);
  double high = std::log(1e6);
  for (int i = 0; i < 200; ++i) {
    const double mid = (low + high) / 2;
    (one_below(0, std::exp(mid), tail_share) < bit_error_rate ? low : high) = mid;
  }
  c.sigma = std::exp((low + high) / 2);
  // The values are whole steps of 1/63.5: the quantile of p is the lowest
  // value v whose step's top, (v + 1) / 63.5, has at least p below it.
  int v = -128;
  for (size_t i = 0; i < c.one.size(); ++i) {
    const double p = (static_cast<double>(i) + 0.5) / static_cast<double>(c.one.size());
    while (v < 127 && one_below((v + 1) / 63.5, c.sigma, tail_share) < p) ++v;
    c.one[i] = static_cast<int8_t>(v);
  }
  return c;
}

void append_soft(SimRandom& random, const SoftChannel& channel, std::span<const uint8_t> packed,
                 std::vector<uint8_t>& out) {
  const size_t at = out.size();
  out.resize(at + 8 * packed.size());
  uint8_t* value = out.data() + at;
  for (const uint8_t byte : packed) {
    // Four 16-bit quantiles per draw, two draws per byte.
    for (int half = 0; half < 2; ++half) {
      uint64_t draw = next_random(random);
      for (int k = 0; k < 4; ++k, draw >>= soft_table_bits) {
        const int bit = (byte >> (7 - (4 * half + k))) & 1;
        const auto one = static_cast<uint8_t>(channel.one[draw & 0xFFFF]);
        *value++ = bit ? one : static_cast<uint8_t>(~one);
      }
    }
  }
}

}  // namespace kestrelis
