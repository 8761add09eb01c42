#include "load/load_stream.hpp"

#include <algorithm>
#include <limits>

#include "wire/bytes.hpp"
#include "wire/csp.hpp"
#include "wire/frame.hpp"
#include "wire/kiss.hpp"

namespace kestrelis {

namespace {

constexpr size_t seq_offset = 3;
constexpr size_t size_offset = 7;
constexpr uint64_t no_more_frames = std::numeric_limits<uint64_t>::max();
constexpr uint64_t min_gap_bits = 16;
constexpr uint64_t max_frame_bits = (frame_overhead + load_payload_max) * 8;

// The filler byte at `index` of packet `seq`: one SplitMix64 step per 8 bytes.
uint8_t filler_byte(uint32_t seq, size_t index) {
  uint64_t z = (uint64_t{seq} << 8 | (index / 8)) + 0x9E3779B97F4A7C15u;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  z ^= z >> 31;
  return static_cast<uint8_t>(z >> (8 * (index % 8)));
}

uint64_t random_gap(NoiseStream& s) {
  std::uniform_int_distribution<uint64_t> gap(min_gap_bits, 2 * s.mean_gap_bits - min_gap_bits);
  return gap(s.rng);
}

void schedule_next_frame(NoiseStream& s) {
  s.next_plant_at = s.bits_made + random_gap(s);
  if (s.next_plant_at + max_frame_bits + min_gap_bits > s.total_bits) {
    s.next_plant_at = no_more_frames;
  }
}

void pack_noise(NoiseStream& s, uint64_t n) {
  while (n > 0) {
    const int piece = static_cast<int>(std::min<uint64_t>(n, 56));
    pack_bits(s.packer, s.rng(), piece);
    n -= static_cast<uint64_t>(piece);
    s.bits_made += static_cast<uint64_t>(piece);
  }
}

void plant_frame(NoiseStream& s) {
  const uint32_t seq = s.next_seq++;
  std::uniform_int_distribution<size_t> size(load_payload_min, load_payload_max);
  const std::vector<uint8_t> frame = load_frame('b', seq, size(s.rng));
  s.planted.push_back({seq, s.bits_made});
  pack_bytes(s.packer, frame);
  s.bits_made += frame.size() * 8;
  schedule_next_frame(s);
}

// Packs at least `bytes` more whole bytes, or up to the end of the stream.
void make_more(NoiseStream& s, size_t bytes) {
  const size_t target = s.packer.bytes.size() + bytes;
  while (s.packer.bytes.size() < target && s.bits_made < s.total_bits) {
    if (s.bits_made == s.next_plant_at) {
      plant_frame(s);
      continue;
    }
    const uint64_t until = std::min(s.next_plant_at, s.total_bits);
    pack_noise(s, std::min<uint64_t>(until - s.bits_made, 4096));
  }
  if (s.bits_made >= s.total_bits && s.packer.count > 0) {
    const int fill = 8 - s.packer.count;
    pack_bits(s.packer, s.rng(), fill);
    s.bits_made += static_cast<uint64_t>(fill);
  }
}

}  // namespace

std::vector<uint8_t> load_frame(char section, uint32_t seq, size_t payload_size) {
  payload_size = std::clamp(payload_size, load_payload_min, load_payload_max);
  std::vector<uint8_t> payload(payload_size);
  payload[0] = 'K';
  payload[1] = 'L';
  payload[2] = static_cast<uint8_t>(section);
  store_be32(std::span(payload).subspan(seq_offset).first<4>(), seq);
  payload[size_offset] = static_cast<uint8_t>(payload_size);
  for (size_t i = size_offset + 1; i < payload_size; ++i) payload[i] = filler_byte(seq, i);
  const auto header =
      csp_header_bytes({.source = satellite_address, .destination_port = digipeater_port});
  return build_frame(header, payload);
}

std::optional<LoadPacket> read_load_packet(std::span<const uint8_t> gui_data) {
  if (gui_data.size() < 1 + load_payload_min || gui_data[0] != gui_text_kind) return std::nullopt;
  const std::span<const uint8_t> payload = gui_data.subspan(1);
  if (payload[0] != 'K' || payload[1] != 'L') return std::nullopt;
  LoadPacket packet;
  packet.section = static_cast<char>(payload[2]);
  packet.seq = load_be32(payload.subspan(seq_offset).first<4>());
  packet.intact = payload[size_offset] == payload.size();
  for (size_t i = size_offset + 1; packet.intact && i < payload.size(); ++i) {
    packet.intact = payload[i] == filler_byte(packet.seq, i);
  }
  return packet;
}

NoiseStream make_noise_stream(uint64_t seed, uint64_t total_bits, uint64_t mean_gap_bits,
                              uint32_t first_seq) {
  NoiseStream s;
  s.rng.seed(seed);
  s.total_bits = total_bits;
  s.mean_gap_bits = std::max(mean_gap_bits, min_gap_bits);
  s.next_seq = first_seq;
  schedule_next_frame(s);
  return s;
}

size_t next_noise_bytes(NoiseStream& s, std::span<uint8_t> out) {
  const size_t available = s.packer.bytes.size() - s.read_offset;
  if (available < out.size()) make_more(s, out.size() - available);
  const size_t n = std::min(out.size(), s.packer.bytes.size() - s.read_offset);
  const auto from = s.packer.bytes.begin() + static_cast<std::ptrdiff_t>(s.read_offset);
  std::copy(from, from + static_cast<std::ptrdiff_t>(n), out.begin());
  s.read_offset += n;
  if (s.read_offset > (1u << 20)) {
    s.packer.bytes.erase(s.packer.bytes.begin(),
                         s.packer.bytes.begin() + static_cast<std::ptrdiff_t>(s.read_offset));
    s.read_offset = 0;
  }
  return n;
}

}  // namespace kestrelis
