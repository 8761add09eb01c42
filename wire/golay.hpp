#pragma once
// The extended Golay (24,12) code of the frame's length field. A codeword is
// 24 bits, parity in bits 23 ... 12 and data in bits 11 ... 0; any two
// codewords differ in at least 8 bits. Every 24-bit word lies within 3 bits
// of exactly one codeword, or exactly 4 bits from exactly six codewords
// (whose four differing bits split the 24 positions into six groups).

#include <array>
#include <cstdint>

namespace kestrelis {

constexpr int golay_nearest_count = 6;

// The codeword of the low 12 bits of `data`.
[[nodiscard]] uint32_t golay24_encode(unsigned data);

// What the decoder made of one received word.
struct GolayDecoded {
  int wrong_bits = 0;  // 0 ... 3: corrected that many bits; 4: detected, not correctable
  unsigned data = 0;   // the data of the nearest codeword; meaningful when wrong_bits <= 3
  // When wrong_bits is 4: the data of the six codewords 4 bits away, ascending.
  std::array<uint16_t, golay_nearest_count> nearest{};
};

// Decodes the low 24 bits of `word`.
[[nodiscard]] GolayDecoded golay24_decode(uint32_t word);

}  // namespace kestrelis
