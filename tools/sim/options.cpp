#include "sim/options.hpp"

#include <cstdint>

#include "common/tnc_profile.hpp"
#include "sim/bit_stream.hpp"
#include "sim/telemetry_model.hpp"
#include "text/command_line.hpp"

namespace kestrelis {

namespace {

std::optional<double> real_in(std::string_view text, double low, double high) {
  return number_in(text, low, high);
}

std::optional<uint16_t> port(std::string_view text) {
  return number_in<uint16_t>(text, 1, 65535);
}

template <typename T>
std::optional<T> integer_in(std::string_view text, T low, T high) {
  return number_in(text, low, high);
}

// Stores `value` in `field`; false, leaving the field, when there is none.
template <typename T>
bool assign(T& field, std::optional<T> value) {
  if (!value) return false;
  field = *value;
  return true;
}

// Applies one option with its value; false when the name is unknown or the
// value does not fit.
bool apply(SimOptions& o, std::string_view name, std::string_view value) {
  if (name == "--rx-port") return assign(o.rx_port, port(value));
  if (name == "--tx-port") return assign(o.tx_port, port(value));
  if (name == "--bitrate") {
    return assign(o.bitrate,
                  value == "max" || value == "0" ? std::optional(0.0) : real_in(value, 1200, 1e9));
  }
  if (name == "--datagram") return assign(o.datagram_size, integer_in<size_t>(value, 1, 2048));
  if (name == "--bit-offset") {
    return assign(o.bit_offset,
                  value == "random" ? std::optional(random_bit_offset) : integer_in(value, 0, 7));
  }
  if (name == "--ber") return assign(o.ber, real_in(value, 0, 0.5));
  if (name == "--errors") {
    if (value == "independent") return assign(o.errors, std::optional(BitErrors::independent));
    if (value == "gmsk") return assign(o.errors, std::optional(BitErrors::gmsk));
    if (value == "pairs") return assign(o.errors, std::optional(BitErrors::pairs));
    return false;
  }
  if (name == "--soft-tail") return assign(o.soft_tail, real_in(value, 0, 1));
  if (name == "--interval") return assign(o.interval_s, real_in(value, 0, 86400));
  if (name == "--layouts") return assign(o.layouts, parse_layout_list(value));
  if (name == "--seed") return assign(o.seed, number_in<uint64_t>(value, 0, UINT64_MAX));
  if (name == "--duration") return assign(o.duration_s, real_in(value, 0, 1e7));
  if (name == "--time-scale") return assign(o.time_scale, real_in(value, 1e-3, 1e6));
  if (name == "--replay") {
    o.replay = value;
    return !value.empty();
  }
  if (name == "--speed") {
    return assign(o.speed, value == "max" ? std::optional(0.0) : real_in(value, 1e-3, 1e6));
  }
  return false;
}

}  // namespace

std::optional<SimOptions> parse_sim_options(std::span<const std::string_view> args,
                                            std::string& error) {
  SimOptions o;
  o.rx_port = 0;  // until given; else the TNC's, below
  o.tx_port = 0;
  o.layouts = *parse_layout_list("all");
  std::optional<std::string> config_file;
  CommandLine line = command_line(args);
  while (const std::optional<std::string_view> word = next_word(line, true)) {
    const std::string_view name = *word;
    if (!line.attached && (name == "--help" || name == "-h")) {
      o.help = true;
      continue;
    }
    if (!line.attached && name == "--version") {
      o.version = true;
      continue;
    }
    if (!line.attached && (name == "--quiet" || name == "-q")) {
      o.quiet = true;
      continue;
    }
    if (!line.attached && name == "--damage-sync") {
      o.damage_sync = true;
      continue;
    }
    if (!line.attached && name == "--soft") {
      o.soft = true;
      continue;
    }
    const std::optional<std::string_view> given = option_value(line);
    if (!given) {
      error = "option " + std::string(name) + " needs a value (see --help)";
      return std::nullopt;
    }
    const std::string_view value = *given;
    if (name == "--config") {
      config_file = value;
      continue;
    }
    if (!apply(o, name, value)) {
      error =
          "bad option or value: " + std::string(name) + " " + std::string(value) + " (see --help)";
      return std::nullopt;
    }
  }
  // The ports the TNC on this machine uses, so that both find each other.
  const std::optional<TncConfig> tnc = config_file ? tnc_file_config(*config_file)
                                                   : std::optional(tnc_profile_config());
  if (!tnc) {
    error = "cannot read the TNC's configuration " + *config_file;
    return std::nullopt;
  }
  if (o.rx_port == 0) o.rx_port = static_cast<uint16_t>(tnc->GR_ReceivePort);
  if (o.tx_port == 0) o.tx_port = static_cast<uint16_t>(tnc->GR_TransmitPort);
  return o;
}

std::string sim_usage() {
  return "Usage: kestrelis-sim [OPTION]...\n"
         "       kestrelis-sim --replay FILE [--speed X|max] [--rx-port PORT]\n"
         "Plays the modem and the satellite for kestrelis-tnc on 127.0.0.1: sends a\n"
         "continuous downlink bit stream with beacons and telemetry, decodes the uplink\n"
         "frames, and answers digipeater requests, list, count and ping.\n"
         "\n"
         "  --rx-port PORT     the TNC's GR_ReceivePort; the downlink goes there\n"
         "  --tx-port PORT     the TNC's GR_TransmitPort; listens there for uplink\n"
         "                     (both by default read from the TNC's Kestrelis/config.ini\n"
         "                     under $USERPROFILE, else $HOME; 53010 and 53011 when\n"
         "                     there is none)\n"
         "  --config FILE      read the TNC's ports from FILE, for a TNC started with\n"
         "                     --config FILE\n"
         "  --bitrate RATE     downlink bit/s, 1200 or more; 0 or max: as fast as possible\n"
         "                     (1200)\n"
         "  --datagram BYTES   stream bytes per datagram, 1 to 2048 (64)\n"
         "  --bit-offset N     bit phase 0-7 at which every frame starts, or random (random)\n"
         "  --ber RATE         bit error rate in the codewords, 0 to 0.5 (0)\n"
         "  --errors MODEL     how the errors fall: independent, gmsk (short bursts as a\n"
         "                     GMSK receiver makes them) or pairs (independent)\n"
         "  --damage-sync      errors in the sync word and length field too, as on air\n"
         "                     (try the TNC's [modem] Acquisition = robust)\n"
         "  --soft             send one signed byte per bit (the TNC's [modem] Input =\n"
         "                     soft8): Gaussian around +1 and -1, as floor(63.5 x) in\n"
         "                     -128 to 127, wrong in sign at --ber, every bit of the\n"
         "                     stream alike; --errors does not apply. Datagrams are\n"
         "                     8 times --datagram bytes\n"
         "  --soft-tail SHARE  with --soft, SHARE (0 to 1) of the values from a Gaussian\n"
         "                     4 times as wide, as a discriminator's clicks (0)\n"
         "  --interval SEC     seconds between telemetry records; 0: none (5)\n"
         "  --layouts LIST     all, or SAT.VERSION list: 1.5,1.6,1.7,1.8,1.9,3.1,3.2,3.3,3.11\n"
         "                     (all); sent in turn, beacons one round, telemetry the next\n"
         "  --seed N           seed of the noise, bit phases and errors (1)\n"
         "  --duration SEC     stop after SEC seconds; 0: run until Ctrl-C (0)\n"
         "  --time-scale F     the satellite's clock runs F times faster: a STORE delay of\n"
         "                     n seconds takes n/F seconds (1)\n"
         "  --quiet, -q        no line for each telemetry frame sent\n"
         "  --replay FILE      send the stream recording FILE (Kestrelis/recordings/*.rec)\n"
         "                     to --rx-port instead, then end; no satellite, no uplink\n"
         "  --speed X          replay X times faster than recorded, 0.001 to 1e6, or max:\n"
         "                     no waiting at all (1)\n"
         "  --help, -h         this text\n"
         "  --version          the version\n";
}

}  // namespace kestrelis
