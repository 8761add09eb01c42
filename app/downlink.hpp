#pragma once
// The downlink: the modem's datagrams to GUI frames and console lines.

#include <cstdint>
#include <span>

#include "app/station.hpp"
#include "wire/frame_detector.hpp"
#include "wire/robust_detector.hpp"
#include "wire/soft_decode.hpp"

namespace kestrelis {

// Runs one datagram of the modem's bit stream through `detector` and acts on
// every frame it completes: de-randomises and corrects the codeword, checks
// the packet, logs it, dispatches it and writes the console lines and GUI
// frames. Counts all of it in the station's statistics. `received_us` (UTC,
// µs since 1970) is when the datagram arrived: the packet log's time of every
// packet it completes.
void receive_datagram(Station& station, FrameDetector& detector, std::span<const uint8_t> bytes,
                      int64_t received_us);

// The same through the robust search (Acquisition = robust): each candidate
// is corrected and checked, and only one that passes Reed-Solomon and the CRC
// is delivered, with the lines of a delivered frame above. A rejected one
// prints one line at VerboseLevel 3 and nothing below it.
void receive_datagram(Station& station, RobustDetector& detector, std::span<const uint8_t> bytes,
                      int64_t received_us);

// The same for soft input (Input = soft8): each byte of `values` is one bit,
// its sign the bit. The signs always go through the robust search, whatever
// Acquisition says; candidates are delivered as above.
void receive_datagram(Station& station, SoftDetector& detector, std::span<const int8_t> values,
                      int64_t received_us);

// The frame search the configuration names (Input, Acquisition,
// SyncBitErrors), as the receive thread and kestrelis-tnc --decode run it.
struct Acquirer {
  bool robust = false;
  bool soft = false;  // Input = soft8: soft_search, whatever `robust` says
  FrameDetector described;
  RobustDetector robust_search;
  SoftDetector soft_search;
};
[[nodiscard]] Acquirer acquirer_for(const TncConfig& config);

// receive_datagram through the search `acquirer` holds; for soft input each
// byte of `bytes` is one soft value.
void receive_datagram(Station& station, Acquirer& acquirer, std::span<const uint8_t> bytes,
                      int64_t received_us);

// The receive thread: binds UDP GR_ReceivePort (on GR_ReceiveAddress, or on
// all local addresses when it is empty) and feeds every datagram, with the
// time it arrived, to receive_datagram, through the search Acquisition names.
// A line warns when the datagrams look like the other form than Input names
// (wire/modem_input.hpp), at most once in ten minutes.
// Returns only when the port cannot be bound, after asking the main loop to
// end the process with status 1 (request_ending).
void receive_thread(Station& station);

}  // namespace kestrelis
