#pragma once
// The robust frame search. Finds the sync word 93 0B 51 DE with up to
// `sync_bit_errors` wrong bits anywhere in its 32 bits, at any bit offset of
// the modem's stream (eight bits per byte, most significant first), decodes
// the whole Golay length field and offers the codeword behind it to the
// caller, who answers whether it passed Reed-Solomon and CRC. A candidate
// that fails does not blind the search: it goes on at the bit after the
// first bit of that sync word, so a frame starting inside a false one is
// still found. No sockets: it is fed bytes and hands out codewords.
//
// Lengths offered for one sync word, each in 33 ... 255 and each once, none
// whose codeword lies farther from the field than 8 bits less the sync
// word's wrong bits, but for the received last length byte below:
//   - length field within 3 bits of a codeword: its length;
//   - exactly 4 bits from the nearest codewords, with at most 4 wrong sync
//     bits: the length of each of the six codewords 4 bits away, ascending,
//     then the received last length byte (going through all 2^24 fields
//     shows at most 5 of the six in range);
//   - then, while the field has at most 6 wrong bits, the lengths whose
//     codewords lie farther from the field, nearest first, then ascending.
//     This finds the frames whose field has more wrong bits than the code can
//     mend (miscorrected to another length, or none in range) when the sync
//     word was nearly clean, for about one more codeword per 10^6 bits of
//     noise at 4 sync bits;
//   - none: the candidate is rejected by its length.
// Going through all 2^24 fields: at most 6 lengths are offered when the sync
// word has 4 wrong bits, 17 with 3, 41 with 2 or fewer, and one with 5 or
// more. A sync word with 5 or more wrong bits thus costs a codeword only for
// the few fields that lie near one, which keeps tolerances above 4 cheap on
// noise.
// Each length is offered as soon as all bits of its own codeword have come,
// in the order above; the first the caller accepts ends the candidate, and
// the search goes on after that codeword.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "wire/golay.hpp"

namespace kestrelis {

constexpr int robust_max_sync_bit_errors = 8;
// Bursts of a GMSK receiver put 5 or 6 wrong bits in a sync word often
// enough that 4 loses frames Reed-Solomon would mend; the length-field
// budget below keeps 6 about as cheap on noise as 4.
constexpr int robust_default_sync_bit_errors = 6;
constexpr unsigned robust_min_length = 33;
constexpr unsigned robust_max_length = 255;
constexpr int robust_max_lengths = robust_max_length - robust_min_length + 1;
// Lengths farther than the code corrects are tried while the sync word and
// the length field have at most this many wrong bits between them...
constexpr int robust_evidence_bits = 8;
// ...and the field at most this many.
constexpr int robust_far_length_bits = 6;
// Sync word, length field and the longest codeword.
constexpr size_t robust_frame_bits = 32 + 24 + 8 * robust_max_length;  // 2096
// Bytes from the one holding an undecided sync word to the end of that frame.
constexpr size_t robust_carry_capacity = (7 + robust_frame_bits + 7) / 8;  // 263

// Running totals, for statistics. Each sync word is counted once, when its
// first length can be offered (at once when it has none).
struct RobustCounts {
  uint64_t sync_words = 0;            // sync words within sync_bit_errors
  uint64_t length_rejections = 0;     // of those: no length in 33 ... 255 to offer
  uint64_t four_error_fields = 0;     // of those: length field 4 bits off, with lengths offered
  uint64_t codewords_offered = 0;     // calls of try_codeword
  uint64_t frames = 0;                // codewords the caller accepted
  uint64_t length_bits_corrected = 0; // length-field bits wrong in accepted frames
  uint64_t far_length_frames = 0;     // of those: more than 3 wrong, beyond the code
};

// One sync word and, in try_codeword, the length offered.
struct RobustCandidate {
  uint64_t bit = 0;       // first bit of the sync word, counted from the first bit ever fed
  int sync_errors = 0;    // wrong bits in the sync word
  int length_errors = 0;    // 0 ... 3 corrected in the length field; 4: detected only
  int attempts = 0;         // lengths offered for this sync word (0: rejected by length)
  int attempt = 0;          // which of them this is, from 0
  unsigned length = 0;      // N of the codeword offered; in sync_found the first one, or 0
  int length_distance = 0;  // bits the field differs from that length's codeword
};

// What the search reports, in stream order.
struct RobustHandler {
  // Optional: each sync word, once, before its codewords are offered.
  std::function<void(const RobustCandidate&)> sync_found;
  // Decodes and checks the N codeword bytes (borrowed for the call), delivers
  // the packet when it passes, and returns whether it did.
  std::function<bool(std::span<const uint8_t> codeword, const RobustCandidate&)> try_codeword;
};

// How far a sync word left undecided had got: a call that ends before the
// bits of its next length's codeword have all come leaves it here.
struct RobustResume {
  bool announced = false;  // counted and passed to sync_found
  int refused = 0;         // its first lengths, offered and refused
};

// The whole state, kept across calls: the setting, the totals, and the bits
// not yet decided (at most robust_carry_capacity bytes).
struct RobustDetector {
  int sync_bit_errors = robust_default_sync_bit_errors;  // taken as 0 ... 8
  RobustCounts counts;
  std::array<uint8_t, robust_carry_capacity> carry{};
  size_t carry_size = 0;
  unsigned carry_from = 0;  // bit of carry[0] where the search resumes
  uint64_t carry_bit = 0;   // stream bit of carry[0]
  RobustResume resume;      // of the sync word at carry_from
};

// Runs the bytes, first byte first, through the search. Frames split across
// calls are found. A sync word's lengths are offered, in order, each as soon
// as all bits of its codeword have come; while the next one's have not, the
// sync word stays undecided and the next call resumes it at that length, so
// sync_found, each offer and each count happen once per sync word. Which
// codewords are offered and accepted does not depend on how the stream is cut.
void robust_detect(RobustDetector& detector, std::span<const uint8_t> bytes,
                   const RobustHandler& handler);

}  // namespace kestrelis
