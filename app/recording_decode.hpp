#pragma once
// kestrelis-tnc --decode: a stream recording run through the receive chain
// the live TNC runs (app/downlink.hpp), as fast as the processor allows, its
// packets logged with the times they were recorded with.

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "config/config.hpp"

namespace kestrelis {

struct DecodeOptions {
  std::string recording;                       // --decode RECORDING
  std::string output;                          // --output FILE; "": RECORDING.decoded.jsonl
  std::optional<AcquisitionMode> acquisition;  // --acquisition described|robust; none: the config's
  std::optional<int> sync_bit_errors;          // --sync-bit-errors N (0 ... 8); none: the config's
  std::optional<std::string> config_file;      // --config FILE; none: the profile's config.ini
};

// The command line after the program name, holding --decode. None on a
// mistake, with `error` saying which option and why (one line, no line end).
[[nodiscard]] std::optional<DecodeOptions> parse_decode_options(
    std::span<const std::string_view> args, std::string& error);

// The output file of `options`: --output, or the recording's path with
// ".decoded.jsonl" added.
[[nodiscard]] std::string decode_output_path(const DecodeOptions& options);

// Runs the decode: loads the configuration as the TNC does, takes the
// options' acquisition over it, creates the output file (refused when it
// exists or has the name of a day file of the live packet log) and feeds each
// recorded datagram, with its recorded time, to the receive chain; opens no
// port, connects to nothing, keys nothing. Prints the receive chain's console
// lines, a line for a recording read only up to its damage, a summary and the
// statistics. Returns 0 (also for a damaged recording, decoded up to the
// damage), 1 when the recording cannot be read or has no recording header or
// the output cannot be created, 2 when the configuration file cannot be read.
[[nodiscard]] int decode_recording(const DecodeOptions& options);

}  // namespace kestrelis
