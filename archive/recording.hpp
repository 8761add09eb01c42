#pragma once
// A stream recording: the modem's datagrams as the TNC received them, with
// their receive times, so that a pass can be decoded again
// (Kestrelis/recordings/<UTC start>.rec, replayed by kestrelis-sim --replay).
//
//   header  "KSTRREC" 0x01               8 bytes: magic and format version 1
//   record  received_us:64 | length:32  big-endian; microseconds since 1970 UTC
//           bytes[length]                the datagram, 0 ... 65536 bytes
//   record  ...
//
// A file cut by a crash ends in part of a record; readers take every whole
// record before it and say once where the file was cut.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kestrelis {

constexpr std::array<uint8_t, 8> recording_header = {'K', 'S', 'T', 'R', 'R', 'E', 'C', 0x01};
constexpr size_t recorded_datagram_limit = 65536;  // larger than any UDP datagram
constexpr size_t record_head_size = 12;            // time and length

// The record of one datagram received at `received_us`; `datagram` holds at
// most recorded_datagram_limit bytes.
[[nodiscard]] std::vector<uint8_t> pack_recorded_datagram(int64_t received_us,
                                                          std::span<const uint8_t> datagram);

struct RecordedDatagram {
  int64_t received_us = 0;
  std::vector<uint8_t> bytes;
};

enum class RecordingState {
  whole,            // every byte read
  cut,              // a damaged last record after the datagrams returned
  not_a_recording,  // no recording header: nothing returned
};

struct RecordingRead {
  RecordingState state = RecordingState::whole;
  std::vector<RecordedDatagram> datagrams;
  size_t good_bytes = 0;  // bytes read up to the damage (header included)
};

// Every whole record of a recording file's content, up to the first one that
// is cut short or longer than recorded_datagram_limit.
[[nodiscard]] RecordingRead unpack_recording(std::span<const uint8_t> file);

// The one message for the operator on a file that was not read whole (with
// "\n"); "" for a whole one.
[[nodiscard]] std::string recording_problem(const RecordingRead& read, const std::string& path,
                                            size_t file_size);

// "YYYYMMDDThhmmssZ.rec" of the UTC time `utc_ms`; with `attempt` > 0,
// "YYYYMMDDThhmmssZ-<attempt>.rec", for a second start within the second.
[[nodiscard]] std::string recording_file_name(int64_t utc_ms, int attempt);

}  // namespace kestrelis
