#pragma once
// The bit-level frame detector: finds the sync word 93 0B 51 DE at any bit
// offset of the modem's stream (eight bits per byte, most significant first),
// takes the length byte as N and collects the N codeword bytes and the one
// byte after them. No sockets: it is fed bytes and hands out codewords.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace kestrelis {

// Where an event happened within the bytes of one detect_frames call: the
// byte and its bit phase (0 = most significant bit).
struct StreamPoint {
  size_t byte = 0;
  int bit = 0;
};

// The detector's whole state, kept across calls. Start values begin a search.
struct FrameDetector {
  int sync_phase = -1;       // -1 while searching; else the bit phase every frame byte ends at
  int match_state = 0;       // sync bytes matched one after the other (0 ... 3)
  int match_phase = 0;       // bit phase at which the first sync byte matched
  int byte_index = -1;       // -1 while searching; else frame byte after the sync word
  int remaining = 250;       // frame bytes still awaited
  uint8_t frame_length = 0;  // N, the last byte of the length field
  uint8_t history = 0;       // the last eight bits, the earliest most significant
  std::array<uint8_t, 256> frame{};  // the codeword and the byte that follows it
};

// What the detector reports, in stream order, while detect_frames runs.
// Either may be empty. The codeword is borrowed for the duration of the call.
struct FrameHandler {
  std::function<void(StreamPoint at)> sync_found;
  std::function<void(std::span<const uint8_t> codeword, StreamPoint at)> codeword_complete;
};

// Runs every bit of `bytes` through the detector, first byte first, most
// significant bit first. Reports each accepted sync word (at its last bit)
// and each complete codeword of N bytes (at the last bit of the byte after
// it, which is then itself tested as a first sync byte). The sync word may
// have one wrong bit in each of its first two bytes and none in the others.
void detect_frames(FrameDetector& detector, std::span<const uint8_t> bytes,
                   const FrameHandler& handler);

}  // namespace kestrelis
