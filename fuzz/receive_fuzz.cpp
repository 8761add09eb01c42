// The receive chain meets whatever the radio delivers: any bytes through the
// frame detector, Reed-Solomon, the packet check, the dispatch and the
// telemetry renderer. The first input byte picks how the rest is cut into
// datagrams, since frames straddle them.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "app/console_log.hpp"
#include "gui/gui_link.hpp"
#include "radio/receive.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  console_sink = [](std::string_view) {};
  gui_sink = [](std::span<const uint8_t>) {};
  if (size == 0) return 0;
  const size_t piece = data[0] == 0 ? size : data[0];
  std::span<const uint8_t> stream(data + 1, size - 1);
  FrameDetector detector;
  while (!stream.empty()) {
    size_t n = stream.size() < piece ? stream.size() : piece;
    receive_bytes(detector, stream.first(n));
    stream = stream.subspan(n);
  }
  return 0;
}
