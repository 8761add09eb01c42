// The guess at the modem's form: packed bits and soft values are told apart,
// and neither is claimed for streams that are clearly neither.

#include "wire/modem_input.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <tuple>
#include <vector>

namespace kestrelis {

namespace {

TEST(InputGuess, PackedBitsAndSoftValuesAreToldApart) {
  std::mt19937 rng(2813);
  std::bernoulli_distribution coin;
  // Bits sent as +-`level` in Gaussian noise, each value floor(63.5 x) saturated, as the
  // modem's float_to_char makes it.
  const auto soft = [&](double level, double sigma) {
    std::normal_distribution<double> noise(0, sigma);
    return [&, level, noise]() mutable {
      const double x = 63.5 * ((coin(rng) ? level : -level) + noise(rng));
      return static_cast<uint8_t>(static_cast<int8_t>(std::clamp(std::floor(x), -128.0, 127.0)));
    };
  };
  int phase = 0;
  using enum InputLooks;
  const std::tuple<const char*, std::function<uint8_t()>, InputLooks> cases[] = {
      {"packed bits of noise or scrambled data", [&] { return static_cast<uint8_t>(rng()); },
       packed_bits},
      {"idle zero bits", [] { return uint8_t{0}; }, undecided},
      {"packed bits of unscrambled text", [&] { return static_cast<uint8_t>(0x20 + rng() % 95); },
       undecided},
      {"a preamble at either bit offset",
       [&] { return ++phase % 2 ? uint8_t{0xAA} : uint8_t{0x55}; }, undecided},
      {"soft values of a clean signal", soft(1, 0.2), soft8},
      {"soft values of a noisy signal", soft(1, 0.4), soft8},
      {"soft values of weak noise", soft(0, 0.3), soft8},
      // Spread near uniform over the bands, but saturated at a tenth of the values.
      {"soft values of strong noise", soft(0, 1.4), undecided},
  };
  for (const auto& [name, next, expected] : cases) {
    SCOPED_TRACE(name);
    std::vector<uint8_t> stream(2 * input_guess_window);
    std::ranges::generate(stream, next);
    InputGuess guess;
    const auto first = std::span(stream).first(input_guess_window);
    EXPECT_EQ(guess_input(guess, first.first(input_guess_window - 1)), undecided);
    EXPECT_EQ(guess_input(guess, first.last(1)), expected);
    EXPECT_EQ(guess_input(guess, std::span(stream).last(input_guess_window)), expected)
        << "the second window alone";
  }
}

}  // namespace

}  // namespace kestrelis
