#include "support/frame_recording.hpp"

#include <mutex>

#include "radio/frame.hpp"
#include "tx/transmit.hpp"

namespace {

std::mutex recording_mutex;
std::vector<std::vector<uint8_t>> recorded;

void keep(std::span<const uint8_t> frame) {
  std::lock_guard lock(recording_mutex);
  recorded.emplace_back(frame.begin(), frame.end());
}

}  // namespace

FrameRecording::FrameRecording() {
  std::lock_guard lock(recording_mutex);
  recorded.clear();
  transmit_recorder = keep;
}

FrameRecording::~FrameRecording() { transmit_recorder = nullptr; }

std::vector<std::vector<uint8_t>> FrameRecording::frames() const {
  std::lock_guard lock(recording_mutex);
  return recorded;
}

UplinkPacket read_uplink(const std::vector<uint8_t>& frame) {
  if (frame.size() < frame_overhead) return {};
  std::vector<uint8_t> codeword(frame.begin() + frame_prefix_size, frame.end());
  apply_randomizer(codeword);
  const auto payload_end = codeword.end() - static_cast<long>(crc_size + 32);
  return {{codeword.begin(), codeword.begin() + csp_header_size},
          {codeword.begin() + csp_header_size, payload_end}};
}
