#pragma once
// KISS framing of the GUI link (FEND, command byte, escaped data, FEND), and
// the kinds of message the TNC sends to the GUI inside those frames.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kestrelis {

constexpr uint8_t FEND = 0xC0;
constexpr uint8_t FESC = 0xDB;
constexpr uint8_t TFEND = 0xDC;
constexpr uint8_t TFESC = 0xDD;

// The first bytes of the data of each frame the TNC sends to the GUI: a text
// line ("P[time stamp] text") and a digipeater packet (0x50, then the payload)
// share the one kind; a telemetry object follows three bytes.
constexpr uint8_t gui_text_kind = 0x50;
constexpr std::array<uint8_t, 3> gui_telemetry_prefix = {0x64, 0xC4, 0x03};

// A frame from the GUI holds at most this many bytes after unescaping,
// command byte included.
constexpr size_t kiss_frame_capacity = 200;

// One encoded frame with command byte 0x00 around `data`: n + 3 bytes, at most 2n + 3.
[[nodiscard]] std::vector<uint8_t> kiss_encode(std::span<const uint8_t> data);

// The deframer of one connection; a fresh record for each connection. A FEND
// opens a frame and the next FEND closes it.
struct KissDeframer {
  enum class State { between_frames, in_frame, escaped, overflowed };
  explicit KissDeframer(size_t capacity = kiss_frame_capacity) : buffer(capacity) {}
  std::vector<uint8_t> buffer;  // the frame so far, unescaped, command byte first
  size_t index = 0;
  State state = State::between_frames;
  bool escaped_overflow = false;  // in `escaped`: the frame has already overflowed
};

// What one byte did to the deframer.
struct KissStep {
  enum class Event { none, frame_opened, frame_closed, overflowed };
  Event event = Event::none;
  // With frame_closed: the data behind the command byte, borrowed from the
  // deframer until its next byte; none when the frame was empty or overflowed.
  std::optional<std::span<const uint8_t>> frame;
};

// Takes the next byte. A frame that grows beyond the capacity is reported
// once (overflowed) and dropped whole when it closes. An escape code other
// than TFEND or TFESC leaves the FESC in the data.
[[nodiscard]] KissStep kiss_receive_byte(KissDeframer& d, uint8_t b);

}  // namespace kestrelis
