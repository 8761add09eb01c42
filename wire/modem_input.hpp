#pragma once
// A guess at which form the modem's datagrams take, from the spread of their
// byte values, to warn an operator whose port is set for the other form.
// Packed hard bits of scrambled data or of noise are near uniform over the
// 256 values. Soft values (one signed byte per bit, floor(63.5 x) saturated)
// never are: with a signal they gather near +-63, on noise near 0 and at the
// saturated ends, and either way they come symmetric in sign (v and -1 - v
// equally often) and spread over many values. A guess is only a warning:
// nothing is dropped or changed because of it.

#include <array>
#include <cstdint>
#include <span>

namespace kestrelis {

// Bytes looked at for one guess.
constexpr uint64_t input_guess_window = 4096;

enum class InputLooks {
  undecided,    // neither clearly (too few bytes yet, idle patterns, a weak signal)
  packed_bits,  // near uniform over the eight bands of 32 values, rarely saturated
  soft8,        // far from uniform, symmetric in sign, over 64 or more values
};

struct InputGuess {
  std::array<uint32_t, 256> counts{};
  uint64_t bytes = 0;
};

// Counts the datagram's bytes. Once input_guess_window bytes are counted,
// returns the guess over them and starts a new window; until then undecided.
[[nodiscard]] InputLooks guess_input(InputGuess& guess, std::span<const uint8_t> datagram);

}  // namespace kestrelis
