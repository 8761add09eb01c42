#include "wire/modem_input.hpp"

#include <cmath>

namespace kestrelis {

namespace {

// For uniform bytes the distance below is about 0.02 over a window, and the
// two saturated values 127 and -128 hold 2/256 of the bytes. Soft values
// near +-63 lie far above 0.25; a noise spread wide enough to come near
// uniform over the bands saturates several times as often.
constexpr double uniform_distance = 0.08;
constexpr double uniform_saturated = 4.0 / 256;
constexpr double soft_distance = 0.25;
constexpr double soft_asymmetry = 0.1;
constexpr int soft_distinct_values = 64;

}  // namespace

InputLooks guess_input(InputGuess& guess, std::span<const uint8_t> datagram) {
  for (uint8_t b : datagram) ++guess.counts[b];
  guess.bytes += datagram.size();
  if (guess.bytes < input_guess_window) return InputLooks::undecided;

  // Eight bands of 32 values by signed value, band 0 from -128; value v and
  // its mirror -1 - v lie in bands k and 7 - k.
  std::array<double, 8> band{};
  int distinct = 0;
  for (size_t v = 0; v < 256; ++v) {
    const auto value = static_cast<int8_t>(v);
    band[static_cast<size_t>((value + 128) / 32)] += guess.counts[v];
    distinct += guess.counts[v] > 0 ? 1 : 0;
  }
  double distance = 0;
  double asymmetry = 0;
  for (size_t k = 0; k < band.size(); ++k) {
    const double share = band[k] / static_cast<double>(guess.bytes);
    distance += std::abs(share - 1.0 / 8) / 2;
    asymmetry += std::abs(band[k] - band[7 - k]) / static_cast<double>(guess.bytes) / 2;
  }
  const double saturated = static_cast<double>(guess.counts[0x7F] + guess.counts[0x80]) /
                           static_cast<double>(guess.bytes);
  guess = {};
  if (distance < uniform_distance && saturated < uniform_saturated) return InputLooks::packed_bits;
  if (distance > soft_distance && asymmetry < soft_asymmetry && distinct >= soft_distinct_values) {
    return InputLooks::soft8;
  }
  return InputLooks::undecided;
}

}  // namespace kestrelis
