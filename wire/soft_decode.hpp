#pragma once
// Soft decisions from the modem: one signed byte per bit, in air order, the
// sign the bit (value >= 0 a 1) and the magnitude how sure the modem was.
// The hard bits (the signs) go through the robust frame search; each
// codeword it offers comes with the soft values of its bits, so the caller
// can erase the bytes it trusts least. No sockets: fed values, hands out
// codewords.

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "wire/robust_detector.hpp"

namespace kestrelis {

// What the soft search reports: as RobustHandler, with the 8 N soft values of
// the codeword's bits (first bit first; borrowed for the call) beside its
// N bytes.
struct SoftHandler {
  std::function<void(const RobustCandidate&)> sync_found;  // optional
  std::function<bool(std::span<const uint8_t> codeword, std::span<const int8_t> soft,
                     const RobustCandidate&)>
      try_codeword;
};

// The robust search over the signs, and the soft values of every bit it may
// still offer: from robust.carry_bit on, up to the last value fed (the last
// 0 ... 7 of them not yet a whole byte, so not yet searched).
struct SoftDetector {
  RobustDetector robust;
  std::vector<int8_t> history;
  uint64_t history_bit = 0;    // stream bit of history[0]
  uint64_t searched_bits = 0;  // bits handed to the robust search so far
};

// Runs the values, first value first, through the search. A stream cut
// anywhere, within a byte too, is searched as if it came whole; the robust
// search's counts and offers are those of the packed signs.
void soft_detect(SoftDetector& detector, std::span<const int8_t> values,
                 const SoftHandler& handler);

}  // namespace kestrelis
