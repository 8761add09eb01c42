#pragma once
// A stream recording: the modem's datagrams as the TNC received them, with
// their receive times, so that a pass can be decoded again
// (Kestrelis/recordings/<UTC start>.rec, replayed by kestrelis-sim --replay,
// decoded by kestrelis-tnc --decode).
//
//   header  "KSTRREC" 0x01               8 bytes: magic and format version 1
//   record  received_us:64 | length:32  big-endian; microseconds since 1970 UTC
//           bytes[length]                the datagram, 1 ... 65536 bytes
//   record  ...
//
// A file cut by a crash ends in part of a record; readers take every whole
// record before it and say once where the file was cut. A record of length 0
// counts as damage too: the TNC records no empty datagram, and a hole in a
// sparse or preallocated file reads as zeros.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace kestrelis {

constexpr std::array<uint8_t, 8> recording_header = {'K', 'S', 'T', 'R', 'R', 'E', 'C', 0x01};
constexpr size_t recorded_datagram_limit = 65536;  // larger than any UDP datagram
constexpr size_t record_head_size = 12;            // time and length

// The record of one datagram received at `received_us`; `datagram` holds 1
// to recorded_datagram_limit bytes.
[[nodiscard]] std::vector<uint8_t> pack_recorded_datagram(int64_t received_us,
                                                          std::span<const uint8_t> datagram);

enum class RecordStatus {
  whole,       // a record: received_us, datagram and size are set
  incomplete,  // the bytes end inside the record's head or datagram
  damaged,     // a length of 0 or over recorded_datagram_limit
};

// The record at the start of `rest` (the bytes after the header or after the
// record before), its datagram borrowed from `rest`.
struct RecordView {
  RecordStatus status = RecordStatus::incomplete;
  int64_t received_us = 0;  // the recorded 64 bits, as they are
  std::span<const uint8_t> datagram;
  size_t size = 0;  // head and datagram
};
[[nodiscard]] RecordView next_record(std::span<const uint8_t> rest);

struct RecordedDatagram {
  int64_t received_us = 0;
  std::vector<uint8_t> bytes;
};

enum class RecordingState {
  whole,            // every byte read
  cut,              // a damaged or cut record, or a read error, after the datagrams
  not_a_recording,  // no recording header: no datagram
};

// How far a recording was read.
struct RecordingSummary {
  RecordingState state = RecordingState::whole;
  uint64_t datagrams = 0;   // whole records read
  uint64_t good_bytes = 0;  // bytes read up to the damage (header included)
  uint64_t file_size = 0;
  int read_error = 0;    // errno of a failed read (state cut, or not_a_recording at the header)
  bool stopped = false;  // the caller asked to stop before the end
};

struct RecordingRead {
  RecordingSummary summary;
  std::vector<RecordedDatagram> datagrams;
};

// Every whole record of a recording file's content in memory, up to the first
// one that is cut short or damaged.
[[nodiscard]] RecordingRead unpack_recording(std::span<const uint8_t> file);

// Called with each record's time and datagram in turn; false stops the reading.
using RecordedDatagramSink =
    std::function<bool(int64_t received_us, std::span<const uint8_t> datagram)>;

// Bytes read from a recording file at a time.
constexpr size_t recording_read_piece = 1 << 20;

// Reads the recording file `path` from its start in pieces of
// recording_read_piece bytes, the header first (a file without one is
// refused before anything more is read), and hands each whole record to
// `sink`, up to the first damaged or cut one, a read error or a false from
// `sink`. Holds one piece and one record at a time, whatever the file's size.
[[nodiscard]] RecordingSummary read_recording(const std::string& path,
                                              const RecordedDatagramSink& sink);

// The one message for the operator on a file that was not read whole (with
// "\n"); "" for a whole one and for one the caller stopped.
[[nodiscard]] std::string recording_problem(const RecordingSummary& read, const std::string& path);

// Recording stops, so that the packet log keeps room, when the disk holding
// it has less than recording_min_free_bytes free or less than
// 1/recording_min_free_share of its size, whichever is larger.
constexpr uint64_t recording_min_free_bytes = uint64_t{1} << 30;
constexpr uint64_t recording_min_free_share = 20;
[[nodiscard]] bool too_little_free_to_record(uint64_t free_bytes, uint64_t total_bytes);

// "YYYYMMDDThhmmssZ.rec" of the UTC time `utc_ms`; with `attempt` > 0,
// "YYYYMMDDThhmmssZ-<attempt>.rec", for a second start within the second.
[[nodiscard]] std::string recording_file_name(int64_t utc_ms, int attempt);

}  // namespace kestrelis
