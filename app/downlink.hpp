#pragma once
// The downlink: the modem's datagrams to GUI frames and console lines.

#include <cstdint>
#include <span>

#include "app/station.hpp"
#include "wire/frame_detector.hpp"

namespace kestrelis {

// Runs one datagram of the modem's bit stream through `detector` and acts on
// every frame it completes: de-randomises and corrects the codeword, checks
// the packet, dispatches it and writes the console lines and GUI frames.
void receive_datagram(Station& station, FrameDetector& detector, std::span<const uint8_t> bytes);

// The receive thread: binds UDP GR_ReceivePort (on GR_ReceiveAddress, or on
// all local addresses when it is empty) and feeds every datagram to
// receive_datagram. Never returns; ends the process with status 1 when the
// port cannot be bound.
[[noreturn]] void receive_thread(Station& station);

}  // namespace kestrelis
