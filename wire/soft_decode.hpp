#pragma once
// Soft decisions from the modem: one signed byte per bit, in air order, the
// sign the bit (value >= 0 a 1) and the magnitude how sure the modem was.
// The hard bits (the signs) go through the robust frame search; each
// codeword it offers comes with the soft values of its bits, so the caller
// can erase the bytes it trusts least (erasure_search below). No sockets:
// fed values, hands out codewords.

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

// The erasure search. A codeword that fails hard decoding is decoded again
// with its least reliable bytes erased: t errors and s erasures are corrected
// whenever 2t + s <= 32, so an erased byte costs half what an error does.
// Bytes are ranked by how likely they are to be wrong: the sum over their
// eight bits of log(1 + exp(-L)), L = soft_llr_per_value |soft| taken as the
// bit's log-likelihood ratio (as for a Gaussian around +-1 with a spread of
// 0.51, a bit error rate of 0.025, about where erasures start to matter).
// On a real GMSK modem's soft captures (5,000 frames per point) this got 0.1
// to 5 % more frames than ranking by the sum of the two smallest |soft|, and
// never fewer (the smallest alone: 4 to 36 % fewer where hard decoding gets
// almost nothing).
// Of the factors tried, 0.03 ... 0.3, 0.12 did best; 0.08 and 0.16 got up to
// 5 % fewer frames at the lowest Eb/N0.
//
// Schedule: e = 2, 4, 6, ... erasures. An odd count is never needed: erasing
// one byte more leaves the error bound 2t <= 32 - e the same for e = 2k + 1
// and 2k + 2, so every word the odd count corrects the next even one does
// too, and stepping by two halves the decodes.
//
// Cap: 20 erasures (at most 6 errors besides). Past that Reed-Solomon stops
// noticing its own failures: wrong codewords turned up at 22 erasures on
// damaged frames and 26 on noise, while capping at 20 ... 24 gave up only
// 3 ... 6 in 230 recoveries. 20 keeps one step of margin below the first
// wrong codeword seen; the exact CRC-32C is the second guard.
constexpr double soft_llr_per_value = 0.12;
constexpr int soft_erasure_step = 2;
constexpr int soft_max_erasures = 20;

// What the search made of one codeword.
struct ErasureDecode {
  int corrected = -1;  // bytes changed in the accepted word; -1: none accepted
  int erasures = 0;    // erased bytes of the accepted word
  int decodes = 0;     // erasure decodes run
};

// The indices 0 ... N - 1 of a codeword's bytes, least reliable first, from
// the 8 N soft values of its bits (ties: lower index first).
[[nodiscard]] std::vector<int> bytes_by_confidence(std::span<const int8_t> soft);

// Runs the schedule above on `word` (the N = soft.size() / 8 stored bytes of
// a de-randomised codeword, 33 ... 255, hard decoding already failed on it)
// with rs_decode_erasures, and leaves in `word` the first decoded word that
// `accept` takes (the caller's exact CRC check: no tolerance, so a word
// Reed-Solomon got wrong is refused), returning how it was found. When none
// is taken, or `soft` is not 8 values a byte of `word`, `word` is left as it
// came and `corrected` is -1. Pure: prints nothing.
[[nodiscard]] ErasureDecode erasure_search(
    std::span<uint8_t> word, std::span<const int8_t> soft,
    const std::function<bool(std::span<const uint8_t> word)>& accept);

}  // namespace kestrelis
