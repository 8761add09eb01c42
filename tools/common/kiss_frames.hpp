#pragma once
// The TNC's stream to the GUI, read with the product's deframer given room
// for the TNC's largest frames: telemetry objects exceed the 200 bytes that a
// frame from the GUI may hold.

#include <cstddef>
#include <cstdint>
#include <span>

#include "wire/kiss.hpp"

namespace kestrelis {

constexpr size_t tnc_frame_capacity = 65536;

// Feeds `bytes` to `d`; calls `on_frame` with the data of each complete frame.
template <typename OnFrame>
void read_kiss_frames(KissDeframer& d, std::span<const uint8_t> bytes, OnFrame&& on_frame) {
  for (uint8_t b : bytes) {
    if (const KissStep step = kiss_receive_byte(d, b); step.frame) on_frame(*step.frame);
  }
}

}  // namespace kestrelis
