#include "wire/frame_detector.hpp"

#include <bit>
#include <utility>

namespace kestrelis {

namespace {

constexpr int searching = -1;
constexpr int length_field_start_remaining = 250;
constexpr int codeword_start = 3;  // frame byte index of the first codeword byte

constexpr uint8_t sync0 = 0x93;
constexpr uint8_t sync1 = 0x0B;
constexpr uint8_t sync2 = 0x51;
constexpr uint8_t sync3 = 0xDE;

bool within_one_bit(uint8_t byte, uint8_t pattern) {
  return std::popcount(static_cast<unsigned>(byte ^ pattern)) <= 1;
}

// Takes the current byte as the next frame byte of a synchronised detector.
// Returns true when it completes the frame; the detector is then searching.
bool take_frame_byte(FrameDetector& d, uint8_t current) {
  ++d.byte_index;
  --d.remaining;
  if (d.byte_index == 0) {
    d.remaining = length_field_start_remaining;
  } else if (d.byte_index == 2) {
    d.frame_length = current;
    d.remaining = current + 1;
  } else if (d.byte_index >= codeword_start) {
    // remaining reaches 0 at byte_index N + 3 <= 258, so the index stays below 256.
    d.frame[static_cast<size_t>(d.byte_index - codeword_start)] = current;
    if (d.remaining == 0) {
      d.remaining = length_field_start_remaining;
      d.sync_phase = searching;
      d.byte_index = searching;
      return true;
    }
  }
  return false;
}

// One bit through the state machine; the reference for every fast path below.
void step_bit(FrameDetector& d, unsigned bit, StreamPoint at, const FrameHandler& handler) {
  d.history = static_cast<uint8_t>((unsigned{d.history} << 1) | bit);
  if (d.sync_phase != searching && at.bit != d.sync_phase) return;
  const uint8_t current = d.history;
  if (d.sync_phase != searching && take_frame_byte(d, current) && handler.codeword_complete) {
    handler.codeword_complete(std::span(d.frame).first(d.frame_length), at);
  }
  if (at.bit == d.match_phase) {
    if (d.match_state == 1) {
      d.match_state = within_one_bit(current, sync1) ? 2 : 0;
    } else if (d.match_state == 2) {
      d.match_state = current == sync2 ? 3 : 0;
    } else if (d.match_state == 3) {
      d.match_state = 0;
      if (current == sync3) {
        d.sync_phase = at.bit;
        if (handler.sync_found) handler.sync_found(at);
      }
    }
  }
  if (d.sync_phase == searching && within_one_bit(current, sync0)) {
    d.match_state = 1;
    d.match_phase = at.bit;
  }
}

void step_byte(FrameDetector& d, uint8_t byte, size_t offset, const FrameHandler& handler) {
  for (int bit = 0; bit < 8; ++bit) {
    step_bit(d, (byte >> (7 - bit)) & 1u, StreamPoint{offset, bit}, handler);
  }
}

// Synchronised: each input byte holds exactly one frame byte, ending at
// sync_phase. Takes whole bytes up to, not including, the byte that completes
// the frame. Returns the offset of the first byte not taken.
size_t collect_frame_bytes(FrameDetector& d, std::span<const uint8_t> bytes, size_t offset) {
  const int shift = 7 - d.sync_phase;
  while (offset < bytes.size() && !(d.remaining == 1 && d.byte_index >= codeword_start - 1)) {
    const uint8_t byte = bytes[offset++];
    take_frame_byte(d, static_cast<uint8_t>(((d.history << 8) | byte) >> shift));
    d.history = byte;
  }
  return offset;
}

// Bit-sliced windows over eight input bytes: bit 63 - t of each mask below
// describes the eight-bit window that ends at bit t (0 ... 63) of the chunk.
struct ChunkWindows {
  uint64_t near_sync0 = 0;  // within one bit of 0x93
  uint64_t near_sync1 = 0;  // within one bit of 0x0B
  uint64_t is_sync2 = 0;    // equal to 0x51
  uint64_t is_sync3 = 0;    // equal to 0xDE
};

ChunkWindows chunk_windows(uint8_t history, std::span<const uint8_t, 8> chunk) {
  uint64_t x = 0;
  for (uint8_t byte : chunk) x = (x << 8) | byte;
  // slice[k]: at each window position, the bit k places before the window's last bit.
  std::array<uint64_t, 8> slice{};
  slice[0] = x;
  for (unsigned k = 1; k < 8; ++k) slice[k] = (x >> k) | (uint64_t{history} << (64 - k));

  const auto near = [&](uint8_t pattern) {
    uint64_t one = 0;
    uint64_t two = 0;
    for (unsigned k = 0; k < 8; ++k) {
      const uint64_t miss = slice[k] ^ (((pattern >> k) & 1u) != 0 ? ~uint64_t{0} : 0);
      two |= one & miss;
      one |= miss;
    }
    return std::pair{~one, ~two};  // no wrong bit, at most one wrong bit
  };
  ChunkWindows w;
  w.near_sync0 = near(sync0).second;
  w.near_sync1 = near(sync1).second;
  w.is_sync2 = near(sync2).first;
  w.is_sync3 = near(sync3).first;
  return w;
}

// Searching: passes a chunk of eight bytes in one step when no sync word can
// be accepted inside it, leaving the state as the bit-by-bit steps would.
// Every acceptance needs 0x51 then 0xDE eight bits later, both inside the
// chunk unless match_state is already 3. Returns false, touching nothing,
// when the chunk must go bit by bit.
bool skip_chunk(FrameDetector& d, std::span<const uint8_t, 8> chunk) {
  if (d.match_state == 3) return false;
  const ChunkWindows w = chunk_windows(d.history, chunk);
  if ((w.is_sync3 & (w.is_sync2 >> 8)) != 0) return false;
  d.history = chunk[7];
  if (w.near_sync0 == 0) {
    // A match carried in runs out within three checks, at most 24 bits.
    d.match_state = 0;
    return true;
  }
  // The last first-byte match restarts the count; later checks come every 8 bits.
  const int low = std::countr_zero(w.near_sync0);  // its position is t = 63 - low
  d.match_phase = (63 - low) & 7;
  const auto at = [](uint64_t mask, int bit) { return ((mask >> bit) & 1u) != 0; };
  if (low < 8) {
    d.match_state = 1;
  } else if (low < 16) {
    d.match_state = at(w.near_sync1, low - 8) ? 2 : 0;
  } else if (low < 24) {
    d.match_state = at(w.near_sync1, low - 8) && at(w.is_sync2, low - 16) ? 3 : 0;
  } else {
    d.match_state = 0;
  }
  return true;
}

}  // namespace

void detect_frames(FrameDetector& detector, std::span<const uint8_t> bytes,
                   const FrameHandler& handler) {
  size_t offset = 0;
  while (offset < bytes.size()) {
    if (detector.sync_phase != searching) {
      offset = collect_frame_bytes(detector, bytes, offset);
      if (offset == bytes.size()) break;
    } else if (bytes.size() - offset >= 8 &&
               skip_chunk(detector, bytes.subspan(offset).first<8>())) {
      offset += 8;
      continue;
    }
    step_byte(detector, bytes[offset], offset, handler);
    ++offset;
  }
}

}  // namespace kestrelis
