// The receive chain meets whatever the radio delivers: any bytes through the
// frame detector, Reed-Solomon, the packet check, the dispatch and the
// telemetry renderer, as the receive thread feeds a station. The first input
// byte picks how the rest is cut into datagrams, since frames straddle them.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "app/downlink.hpp"
#include "app/station.hpp"
#include "wire/frame_detector.hpp"
#include "wire/kiss.hpp"

namespace kestrelis {

namespace {

// Whatever the radio delivered, the GUI must still get well-formed KISS
// frames: a stray FEND inside one would split it on the client's side.
void check_gui_frame(std::span<const uint8_t> frame) {
  if (frame.size() < 3 || frame.front() != FEND || frame[1] != 0x00 || frame.back() != FEND ||
      std::find(frame.begin() + 1, frame.end() - 1, FEND) != frame.end() - 1) {
    __builtin_trap();
  }
}

void receive_stream(std::span<const uint8_t> data) {
  if (data.empty()) return;
  const size_t piece = data[0] == 0 ? data.size() : data[0];
  std::span<const uint8_t> stream = data.subspan(1);
  Station station(TncConfig{}, Console{.verbose_level = 1, .sink = [](std::string_view) {}});
  station.gui.sink = check_gui_frame;
  FrameDetector detector;
  while (!stream.empty()) {
    const size_t n = std::min(stream.size(), piece);
    receive_datagram(station, detector, stream.first(n), 0);
    stream = stream.subspan(n);
  }
}

}  // namespace

}  // namespace kestrelis

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kestrelis::receive_stream(std::span(data, size));
  return 0;
}
