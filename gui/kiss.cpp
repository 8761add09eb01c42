#include "gui/kiss.hpp"

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
