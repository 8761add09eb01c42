// A stream recording is read as untrusted input by kestrelis-sim --replay and
// kestrelis-tnc --decode: any bytes must be read up to the first damaged
// record and no further, and any recorded time, crafted ones included, must
// turn into a packet log time without overflow.

#include <cstddef>
#include <cstdint>
#include <span>

#include "archive/packet_log.hpp"
#include "archive/recording.hpp"

namespace kestrelis {

namespace {

void read_recording_bytes(std::span<const uint8_t> file) {
  const RecordingRead read = unpack_recording(file);
  const RecordingSummary& s = read.summary;
  if (s.state == RecordingState::not_a_recording) {
    if (!read.datagrams.empty()) __builtin_trap();
    return;
  }
  uint64_t bytes = recording_header.size();
  for (const RecordedDatagram& d : read.datagrams) {
    if (d.bytes.empty() || d.bytes.size() > recorded_datagram_limit) __builtin_trap();
    bytes += record_head_size + d.bytes.size();
    // What --decode logs a packet completed by this datagram with.
    if (iso_utc_ms(d.received_us / 1000).empty()) __builtin_trap();
  }
  if (bytes != s.good_bytes || s.good_bytes > file.size() || s.datagrams != read.datagrams.size() ||
      (s.state == RecordingState::whole) != (s.good_bytes == file.size())) {
    __builtin_trap();
  }
}

}  // namespace

}  // namespace kestrelis

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kestrelis::read_recording_bytes(std::span(data, size));
  return 0;
}
