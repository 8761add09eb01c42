#include "common/bit_packer.hpp"

#include <algorithm>

namespace kestrelis {

void pack_bits(BitPacker& p, uint64_t bits, int n) {
  p.pending = (p.pending << n) | (bits & ((uint64_t{1} << n) - 1));
  p.count += n;
  while (p.count >= 8) {
    p.count -= 8;
    p.bytes.push_back(static_cast<uint8_t>(p.pending >> p.count));
  }
  p.pending &= (uint64_t{1} << p.count) - 1;
}

void pack_bytes(BitPacker& p, std::span<const uint8_t> bytes) {
  for (uint8_t b : bytes) pack_bits(p, b, 8);
}

void pack_zero_bits(BitPacker& p, size_t n) {
  for (size_t piece; n > 0; n -= piece) {
    piece = std::min<size_t>(n, 56);
    pack_bits(p, 0, static_cast<int>(piece));
  }
}

void pad_to_byte(BitPacker& p) {
  if (p.count > 0) pack_bits(p, 0, 8 - p.count);
}

}  // namespace kestrelis
