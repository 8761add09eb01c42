// The guess at the modem's form: packed bits and soft values are told apart,
// and neither is claimed for streams that are clearly neither.

#include "wire/modem_input.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

namespace kestrelis {

namespace {

// floor(63.5 x) saturated, as the modem's float_to_char makes it.
uint8_t soft_byte(double x) {
  return static_cast<uint8_t>(static_cast<int8_t>(std::clamp(std::floor(63.5 * x), -128.0, 127.0)));
}

TEST(InputGuess, PackedBitsAndSoftValuesAreToldApart) {
  std::mt19937 rng(2813);
  std::bernoulli_distribution coin;
  const auto soft_signal = [&](double sigma) {
    std::normal_distribution<double> noise(0, sigma);
    return [&, noise]() mutable { return soft_byte((coin(rng) ? 1 : -1) + noise(rng)); };
  };
  const auto soft_noise = [&](double sigma) {
    std::normal_distribution<double> noise(0, sigma);
    return [&, noise]() mutable { return soft_byte(noise(rng)); };
  };
  int phase = 0;
  const struct {
    const char* name;
    std::function<uint8_t()> next;
    InputLooks expected;
  } cases[] = {
      {"packed bits of noise or scrambled data", [&] { return static_cast<uint8_t>(rng()); },
       InputLooks::packed_bits},
      {"idle zero bits", [] { return uint8_t{0}; }, InputLooks::undecided},
      {"packed bits of unscrambled text", [&] { return static_cast<uint8_t>(0x20 + rng() % 95); },
       InputLooks::undecided},
      {"a preamble at either bit offset",
       [&] { return ++phase % 2 ? uint8_t{0xAA} : uint8_t{0x55}; }, InputLooks::undecided},
      {"soft values of a clean signal", soft_signal(0.2), InputLooks::soft8},
      {"soft values of a noisy signal", soft_signal(0.4), InputLooks::soft8},
      {"soft values of weak noise", soft_noise(0.3), InputLooks::soft8},
      // Spread near uniform over the bands, but saturated at a tenth of the values.
      {"soft values of strong noise", soft_noise(1.4), InputLooks::undecided},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> stream(2 * input_guess_window);
    std::ranges::generate(stream, c.next);
    InputGuess guess;
    const auto first = std::span(stream).first(input_guess_window);
    EXPECT_EQ(guess_input(guess, first.first(input_guess_window - 1)), InputLooks::undecided);
    EXPECT_EQ(guess_input(guess, first.last(1)), c.expected);
    EXPECT_EQ(guess_input(guess, std::span(stream).last(input_guess_window)), c.expected)
        << "the second window alone";
  }
}

}  // namespace

}  // namespace kestrelis
