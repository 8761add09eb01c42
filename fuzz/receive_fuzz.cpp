// The receive chain meets whatever the radio delivers: any bytes through
// both frame searches, Reed-Solomon, the packet check, the dispatch and the
// telemetry renderer, as the receive thread feeds a station. The first input
// byte picks how the rest is cut into datagrams, since frames straddle them,
// and the robust search's tolerance, since each keeps its own carry.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "app/downlink.hpp"
#include "app/station.hpp"
#include "wire/frame_detector.hpp"
#include "wire/kiss.hpp"
#include "wire/robust_detector.hpp"

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
  const Console quiet{.verbose_level = 3, .sink = [](std::string_view) {}};
  Station described_station(TncConfig{}, quiet);
  described_station.gui.sink = check_gui_frame;
  FrameDetector described;
  TncConfig robust_config;
  robust_config.Acquisition = AcquisitionMode::robust;
  Station robust_station(robust_config, quiet);
  robust_station.gui.sink = check_gui_frame;
  RobustDetector robust;
  robust.sync_bit_errors = data[0] % (robust_max_sync_bit_errors + 1);
  while (!stream.empty()) {
    const std::span<const uint8_t> datagram = stream.first(std::min(stream.size(), piece));
    receive_datagram(described_station, described, datagram, 0);
    receive_datagram(robust_station, robust, datagram, 0);
    stream = stream.subspan(datagram.size());
  }
}

}  // namespace

}  // namespace kestrelis

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kestrelis::receive_stream(std::span(data, size));
  return 0;
}
