#pragma once
// Test support: uplink frames recorded instead of keyed and sent.

#include <cstdint>
#include <vector>

// While alive, every frame handed to transmit_frame is kept here and nothing
// is keyed, sent or waited for.
class FrameRecording {
 public:
  FrameRecording();
  FrameRecording(const FrameRecording&) = delete;
  FrameRecording& operator=(const FrameRecording&) = delete;
  ~FrameRecording();
  std::vector<std::vector<uint8_t>> frames() const;
};

// The CSP header bytes and the payload of an uplink frame, read back through
// the randomiser (parity and CRC are not checked).
struct UplinkPacket {
  std::vector<uint8_t> header;
  std::vector<uint8_t> payload;
};
UplinkPacket read_uplink(const std::vector<uint8_t>& frame);
