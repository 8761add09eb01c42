#pragma once
// The shortened RS(255,223) code of the radio frame: GF(2^8) with field
// polynomial 0x187, 32 roots alpha^(11*j) for j = 112 ... 143, conventional
// basis. A codeword is `pad` implied zero symbols, 223 - pad data symbols and
// 32 parity symbols; only the last 255 - pad symbols are stored and sent.

#include <array>
#include <cstdint>
#include <span>

namespace kestrelis {

constexpr int rs_parity_size = 32;
constexpr int rs_max_pad = 222;  // a decoder input needs at least 33 bytes

// The control block: fixed parameters and the tables built from them, the
// same for every shortening. There is one, constant, so any thread may read
// it. The hot loops use a constant product table of the same field instead.
struct RsCodec {
  int symbol_bits = 8;
  int code_length = 255;                 // also the log-form marker for the value zero
  std::array<uint8_t, 256> exp_table{};  // exp_table[i] = alpha^i; exp_table[255] = 0
  std::array<uint8_t, 256> log_table{};  // log_table[alpha^i] = i; log_table[0] = 255
  std::array<uint8_t, 33> generator{};   // g0 ... g32 in log form
  int root_count = 32;
  int first_root = 112;
  int root_step = 11;
  int root_step_inverse = 116;  // 11 * 116 = 1 (mod 255)
};

// The one block, built at compile time.
[[nodiscard]] const RsCodec& rs_codec();

// Reads the 223 - pad data bytes at the start of `data` and writes the 32
// parity bytes. Pad 223 yields 32 zero bytes. Returns false, touching
// nothing, when pad is outside 0 ... 223 or `data` is shorter than 223 - pad.
// Reads nothing from `codec`; it is taken for symmetry with rs_decode.
[[nodiscard]] bool rs_encode(const RsCodec& codec, std::span<const uint8_t> data,
                             std::span<uint8_t, rs_parity_size> parity, int pad);

// Corrects in place the stored bytes (data, then parity) of `word`, whose
// size gives the shortening: pad = 255 - size. Returns the number of symbols
// corrected (0: the word was valid), or -1 when it is uncorrectable - also
// when an error is located among the pad zeros - or when the size is outside
// 33 ... 255. On -1 the word is left unchanged; on success it is a codeword
// of the shortened code.
[[nodiscard]] int rs_decode(const RsCodec& codec, std::span<uint8_t> word);

// Errors-and-erasures decoding: as rs_decode, but the bytes at the stored
// indices in `erasures` (0 ... size - 1, the indices of `word`, in any order)
// are taken as unknown, so that t errors elsewhere and s erasures are
// corrected whenever 2t + s <= 32. Returns the number of bytes changed (an
// erased byte that was right is not counted; 0 also when the word already was
// a codeword), or -1, with `word` unchanged, when: more than 32 erasures, an
// index out of range or repeated, a size rs_decode refuses, or no
// codeword lies within 2t + s <= 32 of the word (also one needing a change
// among the pad zeros). Beyond that bound a word may decode to another
// codeword: only a check over the data (the CRC) can tell. With no erasures
// it corrects the words rs_decode corrects within 16 errors; rs_decode stays
// the hard-decision path. Reads nothing from `codec`.
[[nodiscard]] int rs_decode_erasures(const RsCodec& codec, std::span<uint8_t> word,
                                     std::span<const int> erasures);

}  // namespace kestrelis
