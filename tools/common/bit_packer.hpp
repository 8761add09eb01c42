#pragma once
// Bits packed into bytes most significant first, as the modem delivers the
// downlink: the simulator's and the load tool's streams and the tests' are
// built with it.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kestrelis {

struct BitPacker {
  std::vector<uint8_t> bytes;  // the whole bytes so far
  uint64_t pending = 0;        // bits not yet making a whole byte, in the low `count` bits
  int count = 0;
};

// Appends the low `n` bits of `bits` (n at most 56), the highest of them first.
void pack_bits(BitPacker& p, uint64_t bits, int n);
void pack_bytes(BitPacker& p, std::span<const uint8_t> bytes);

// Appends `n` zero bits.
void pack_zero_bits(BitPacker& p, size_t n);

// Fills the last byte up with zero bits.
void pad_to_byte(BitPacker& p);

}  // namespace kestrelis
