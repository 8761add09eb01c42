#include "gui/kiss.hpp"

#include "app/console_log.hpp"

std::vector<uint8_t> kiss_encode(std::span<const uint8_t> data) {
  std::vector<uint8_t> frame;
  frame.reserve(2 * data.size() + 3);
  frame.push_back(FEND);
  frame.push_back(0x00);
  for (uint8_t b : data) {
    if (b == FEND) {
      frame.push_back(FESC);
      frame.push_back(TFEND);
    } else if (b == FESC) {
      frame.push_back(FESC);
      frame.push_back(TFESC);
    } else {
      frame.push_back(b);
    }
  }
  frame.push_back(FEND);
  return frame;
}

std::optional<std::span<const uint8_t>> kiss_receive_byte(KissDeframer& d, uint8_t b) {
  if (d.escape) {
    // The FESC is already stored; an unknown code after it leaves it as 0xDB.
    if (!d.overflow && b == TFEND) d.buffer[d.index - 1] = FEND;
    if (!d.overflow && b == TFESC) d.buffer[d.index - 1] = FESC;
    d.escape = false;
    return std::nullopt;
  }
  if (b == FEND && d.start_pending) {
    verbose_log(4, "New KISS packet detected\n");
    d.buffer.fill(0);
    d.index = 0;
    d.overflow = false;
    d.start_pending = false;
    return std::nullopt;
  }
  if (b == FEND) {
    verbose_log(4, "Finished reading KISS packet\n");
    d.start_pending = true;
    size_t length = d.index;
    d.index = 0;
    if (length < 1 || d.overflow) return std::nullopt;
    return std::span<const uint8_t>(d.buffer).subspan(1, length - 1);
  }
  if (d.start_pending) return std::nullopt;
  if (!d.overflow && d.index == d.buffer.size()) {
    d.overflow = true;
    console_log("KISS frame from GUI longer than %zu bytes dropped\n", kiss_frame_capacity);
  }
  if (!d.overflow) d.buffer[d.index++] = b;
  if (b == FESC) d.escape = true;
  return std::nullopt;
}
