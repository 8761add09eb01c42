#pragma once
// What the load tool plays as the modem: numbered digipeater packets from the
// satellite, and a long stream of random bits with such frames planted in it
// at random bit offsets.

#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <vector>

#include "common/bit_packer.hpp"

namespace kestrelis {

// The payload of a numbered packet:
//   'K' 'L' | section letter | sequence number, 4 bytes MSB first |
//   payload size, 1 | filler drawn from the sequence number
// At least 8 bytes, at most 215.
constexpr size_t load_payload_min = 8;
constexpr size_t load_payload_max = 215;

// The frame (port 14, source 1) of packet `seq` of `section` with a payload of
// `payload_size` bytes, clamped to the bounds above.
std::vector<uint8_t> load_frame(char section, uint32_t seq, size_t payload_size);

// A numbered packet as the GUI receives it (gui_text_kind, then the payload).
struct LoadPacket {
  char section = 0;
  uint32_t seq = 0;
  bool intact = false;  // size and filler are what was sent
};

// Reads the data of one GUI frame; none when it is not a numbered packet.
[[nodiscard]] std::optional<LoadPacket> read_load_packet(std::span<const uint8_t> gui_data);

// Where a frame was planted in the noise.
struct NoiseFrame {
  uint32_t seq = 0;
  uint64_t bit_offset = 0;  // of its first sync bit, from the start of the stream
};

// Random bits with frames of section 'b' planted at random bit offsets, made
// piece by piece so that the stream is never held whole.
struct NoiseStream {
  std::mt19937_64 rng;
  uint64_t total_bits = 0;
  uint64_t mean_gap_bits = 0;
  uint64_t bits_made = 0;      // bits packed so far
  uint64_t next_plant_at = 0;  // bit offset of the next frame
  uint32_t next_seq = 0;
  BitPacker packer;
  size_t read_offset = 0;  // bytes of packer.bytes already handed out
  std::vector<NoiseFrame> planted;
};

// A stream of `total_bits` (rounded up to whole bytes) whose frames lie on
// average `mean_gap_bits` of noise apart, numbered from `first_seq`. The last
// frame is followed by at least 16 bits of noise.
NoiseStream make_noise_stream(uint64_t seed, uint64_t total_bits, uint64_t mean_gap_bits,
                              uint32_t first_seq);

// The next up to `max_bytes` bytes of the stream into `out`; returns how
// many, 0 at its end.
size_t next_noise_bytes(NoiseStream& s, std::span<uint8_t> out);

}  // namespace kestrelis
