#pragma once
// KISS framing of the GUI link: FEND, command byte, escaped data, FEND.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

constexpr uint8_t FEND = 0xC0;
constexpr uint8_t FESC = 0xDB;
constexpr uint8_t TFEND = 0xDC;
constexpr uint8_t TFESC = 0xDD;

// A frame from the GUI holds at most this many bytes after unescaping,
// command byte included.
constexpr size_t kiss_frame_capacity = 200;

// One encoded frame with command byte 0x00 around `data`: n + 3 bytes, at most 2n + 3.
std::vector<uint8_t> kiss_encode(std::span<const uint8_t> data);

// The deframer of one GUI connection; a fresh record for each connection.
struct KissDeframer {
  std::array<uint8_t, kiss_frame_capacity> buffer{};
  bool start_pending = true;
  bool escape = false;
  size_t index = 0;
  bool overflow = false;  // the frame outgrew the buffer and is being skipped
};

// Takes the next byte from the GUI. When `b` closes a frame that holds a
// command byte, returns the frame's data behind it, borrowed from `d.buffer`
// until the next call. Prints "New KISS packet detected\n" and "Finished
// reading KISS packet\n" at level 4, and one console line for a frame that
// grows beyond 200 bytes, which is then dropped whole.
std::optional<std::span<const uint8_t>> kiss_receive_byte(KissDeframer& d, uint8_t b);
