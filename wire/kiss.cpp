#include "wire/kiss.hpp"

namespace kestrelis {

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

KissStep kiss_receive_byte(KissDeframer& d, uint8_t b) {
  using State = KissDeframer::State;
  using Event = KissStep::Event;
  switch (d.state) {
    case State::escaped:
      // The FESC is already stored; an unknown code after it leaves it as 0xDB.
      if (d.escaped_overflow) {
        d.state = State::overflowed;
        return {};
      }
      if (b == TFEND) d.buffer[d.index - 1] = FEND;
      if (b == TFESC) d.buffer[d.index - 1] = FESC;
      d.state = State::in_frame;
      return {};
    case State::between_frames:
      if (b != FEND) return {};
      d.index = 0;
      d.state = State::in_frame;
      return {Event::frame_opened, std::nullopt};
    case State::in_frame:
    case State::overflowed: {
      if (b == FEND) {
        const size_t length = d.index;
        const bool complete = d.state == State::in_frame && length >= 1;
        d.index = 0;
        d.state = State::between_frames;
        if (!complete) return {Event::frame_closed, std::nullopt};
        return {Event::frame_closed, std::span<const uint8_t>(d.buffer).subspan(1, length - 1)};
      }
      KissStep step;
      if (d.state == State::in_frame && d.index == d.buffer.size()) {
        d.state = State::overflowed;
        step.event = Event::overflowed;
      }
      if (d.state == State::in_frame) d.buffer[d.index++] = b;
      if (b == FESC) {
        d.escaped_overflow = d.state == State::overflowed;
        d.state = State::escaped;
      }
      return step;
    }
  }
  return {};
}

}  // namespace kestrelis
