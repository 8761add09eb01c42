#pragma once
// The command line of kestrelis-sim.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/bit_stream.hpp"

namespace kestrelis {

struct SimOptions {
  uint16_t rx_port = 53010;     // the TNC's GR_ReceivePort: the downlink goes there
  uint16_t tx_port = 53011;     // the TNC's GR_TransmitPort: the uplink arrives there
  double bitrate = 1200;        // bit/s; 0: as fast as possible
  size_t datagram_size = 64;    // bytes of stream per datagram, 1 to 2048
  int bit_offset = -1;          // bit phase 0-7 of every frame; -1: random per frame
  double ber = 0;               // bit error rate in codewords, 0 to 0.5
  BitErrors errors = BitErrors::independent;  // how the errors fall
  bool damage_sync = false;                   // errors in sync words and length fields too
  bool soft = false;                          // one signed byte per bit, through the soft channel
  double soft_tail = 0;                       // share of soft values from the wide Gaussian
  double interval_s = 5;        // between telemetry records; 0: none
  std::vector<size_t> layouts;  // indices into telemetry_layouts, sent in turn
  uint64_t seed = 1;
  double duration_s = 0;  // 0: until SIGINT or SIGTERM
  double time_scale = 1;  // satellite seconds per real second, for relay delays
  bool quiet = false;     // no line per telemetry frame
  std::string replay;     // a stream recording to send instead of the simulation
  double speed = 1;       // replay: times faster than recorded; 0: no waiting
  bool help = false;
  bool version = false;
};

// Parses the arguments after the program name. The ports not given are the
// TNC's, from its config.ini (see common/tnc_profile.hpp). On a mistake
// returns none and sets `error` to one line saying which option and why.
[[nodiscard]] std::optional<SimOptions> parse_sim_options(std::span<const std::string_view> args,
                                                          std::string& error);

// The --help text: every option with its default.
[[nodiscard]] std::string sim_usage();

}  // namespace kestrelis
