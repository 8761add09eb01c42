#pragma once
// The downlink as the modem would deliver it: a continuous bit stream, most
// significant bit first, of random idle noise with frames planted in it at a
// chosen bit phase, their codewords (or whole frames) hit by random bit errors.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "common/bit_packer.hpp"

namespace kestrelis {

// A small, fast, seeded generator (splitmix64): the same seed gives the same stream.
struct SimRandom {
  uint64_t state = 1;
};

[[nodiscard]] uint64_t next_random(SimRandom& r);
// A value in [0, 1).
[[nodiscard]] double random_unit(SimRandom& r);
// A value in [0, n); 0 when n is 0.
[[nodiscard]] uint32_t random_below(SimRandom& r, uint32_t n);

constexpr int random_bit_offset = -1;

// How the channel's bit errors fall.
enum class BitErrors {
  independent,  // each bit on its own: the binary symmetric channel
  // Two adjacent bits at every error: the worst that a differential or
  // frequency-discriminator detector's doubled errors can do.
  pairs,
  // Error events as a frequency-discriminator GMSK receiver makes them: short
  // patterns drawn from those counted on a real modem (see bit_stream.cpp).
  gmsk,
};

// The stream being built: the packer holds the finished bytes not yet taken
// and the bits (0 ... 7) of the byte after them.
struct DownlinkStream {
  SimRandom random;
  int bit_offset = random_bit_offset;  // phase 0-7 of each frame's first bit, or random per frame
  double bit_error_rate = 0;           // per damaged bit, on average; 0 to 0.5
  BitErrors errors = BitErrors::independent;
  bool damage_prefix = false;  // the sync word and length field too, not only the codeword
  BitPacker packer;
};

// What became of one planted frame.
struct PlantedFrame {
  int phase = 0;              // bit phase of the first sync bit within a stream byte
  int bit_errors = 0;         // bits flipped in the codeword
  int byte_errors = 0;        // codeword bytes with at least one flipped bit
  std::vector<uint8_t> sent;  // the frame as sent, errors included
};

// Appends `bits` random bits.
void append_idle(DownlinkStream& s, size_t bits);

// Appends at least 16 bits of noise, then `frame` (sync word, length field,
// codeword) starting at the stream's bit phase. Bits of the codeword (from
// byte 7 on) are flipped at the stream's bit error rate, as `errors` says;
// the sync word and the length field are sent clean unless `damage_prefix`.
PlantedFrame append_frame(DownlinkStream& s, std::span<const uint8_t> frame);

// Removes and returns up to `count` finished bytes from the front.
[[nodiscard]] std::vector<uint8_t> take_stream_bytes(DownlinkStream& s, size_t count);

}  // namespace kestrelis
