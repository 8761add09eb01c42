#pragma once
// The tools' side of the KISS link: cuts the TNC's stream to the GUI into
// frames of any length the TNC sends (telemetry objects exceed 200 bytes).

#include <cstdint>
#include <span>
#include <vector>

struct KissReader {
  std::vector<uint8_t> frame;  // bytes since the last FEND, unescaped, command byte first
  bool escape = false;
  bool complete = false;  // `frame` was handed out and is cleared by the next byte
};

// One byte; returns true when `r.frame` holds a complete frame (command byte
// first), valid until the next call. Empty frames between FENDs are skipped.
bool kiss_read_byte(KissReader& r, uint8_t b);

// Feeds `bytes`; calls `on_frame` with the data of each complete frame, its
// command byte removed.
template <typename OnFrame>
void kiss_read(KissReader& r, std::span<const uint8_t> bytes, OnFrame&& on_frame) {
  for (uint8_t b : bytes) {
    if (kiss_read_byte(r, b)) on_frame(std::span<const uint8_t>(r.frame).subspan(1));
  }
}
