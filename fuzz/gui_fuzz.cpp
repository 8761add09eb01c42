// The GUI link meets whatever a client sends: any bytes through the KISS
// deframer and the request handler, with transmissions recorded instead of
// keyed. Every recorded frame must be one the radio format allows.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "app/config.hpp"
#include "app/console_log.hpp"
#include "gui/gui_link.hpp"
#include "gui/kiss.hpp"
#include "gui/requests.hpp"
#include "radio/frame.hpp"
#include "tx/transmit.hpp"

namespace {
void check_frame(std::span<const uint8_t> frame) {
  if (frame.size() < frame_overhead || frame.size() > frame_overhead + max_payload_size) {
    __builtin_trap();
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  console_sink = [](std::string_view) {};
  gui_sink = [](std::span<const uint8_t>) {};
  transmit_recorder = check_frame;
  tnc_config.CallFrom = "QQ0ABC";
  KissDeframer deframer;
  for (size_t i = 0; i < size; ++i) {
    if (auto frame = kiss_receive_byte(deframer, data[i])) {
      if (frame->size() >= kiss_frame_capacity) __builtin_trap();
      handle_gui_request(*frame);
    }
  }
  return 0;
}
