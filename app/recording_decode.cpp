#include "app/recording_decode.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <utility>

#include "app/downlink.hpp"
#include "app/startup.hpp"
#include "app/station.hpp"
#include "archive/packet_log.hpp"
#include "archive/recording.hpp"
#include "platform/clock.hpp"
#include "platform/files.hpp"

namespace kestrelis {

namespace {

// Recorded times from 1970 to the end of 9999 are written as the log's
// readers read them; others (a damaged or crafted recording) as they are.
constexpr int64_t latest_readable_us = 253'402'300'799'999'999;

std::string_view file_name_of(std::string_view path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::optional<DecodeOptions> parse_decode_options(std::span<const std::string_view> args,
                                                  std::string& error) {
  DecodeOptions o;
  bool have_recording = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string_view name = args[i];
    if (i + 1 >= args.size()) {
      error = "option " + std::string(name) + " needs a value, or is unknown";
      return std::nullopt;
    }
    const std::string_view value = args[++i];
    const auto twice = [&](bool given) {
      if (given) error = "option " + std::string(name) + " given twice";
      return given;
    };
    if (name == "--decode") {
      if (twice(have_recording)) return std::nullopt;
      o.recording = value;
      have_recording = true;
    } else if (name == "--output") {
      if (twice(!o.output.empty())) return std::nullopt;
      o.output = value;
    } else if (name == "--config") {
      if (twice(o.config_file.has_value())) return std::nullopt;
      o.config_file = std::string(value);
    } else if (name == "--acquisition") {
      if (twice(o.acquisition.has_value())) return std::nullopt;
      const auto name_at = std::find(acquisition_names.begin(), acquisition_names.end(), value);
      if (name_at == acquisition_names.end()) {
        error = "--acquisition " + std::string(value) + ": described or robust";
        return std::nullopt;
      }
      o.acquisition = static_cast<AcquisitionMode>(name_at - acquisition_names.begin());
    } else if (name == "--sync-bit-errors") {
      if (twice(o.sync_bit_errors.has_value())) return std::nullopt;
      int n = -1;
      const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
      if (ec != std::errc() || end != value.data() + value.size() || n < 0 ||
          n > robust_max_sync_bit_errors) {
        error = "--sync-bit-errors " + std::string(value) + ": a whole number from 0 to 8";
        return std::nullopt;
      }
      o.sync_bit_errors = n;
    } else {
      error = "unknown option " + std::string(name) + " with --decode";
      return std::nullopt;
    }
  }
  if (o.recording.empty()) {
    error = "--decode needs a recording";
    return std::nullopt;
  }
  return o;
}

std::string decode_output_path(const DecodeOptions& options) {
  return options.output.empty() ? options.recording + ".decoded.jsonl" : options.output;
}

int decode_recording(const DecodeOptions& options) {
  const Console console;
  std::optional<TncConfig> config =
      load_startup_configuration(console, options.config_file, profile_directory());
  if (!config) return config_unreadable_status;
  if (options.acquisition) config->Acquisition = *options.acquisition;
  if (options.sync_bit_errors) config->SyncBitErrors = *options.sync_bit_errors;

  const std::string output = decode_output_path(options);
  // The forwarder posts every line of a day file: decoded packets never go into one.
  if (is_packet_log_file_name(file_name_of(output))) {
    console_log(console,
                "Decode: %s has the name of a packet log day file, which the forwarder would "
                "post; choose another --output\n",
                output.c_str());
    return 1;
  }
  Station station(std::move(*config), console);
  // No GUI is served: its frames go nowhere, and no line says so for each.
  station.gui.sink = [](std::span<const uint8_t>) {};
  if (!start_decoded_log(station.archive, output, station.console,
                         station.statistics.packets_not_logged)
           .ok()) {
    return 1;
  }
  const TncConfig& c = station.config;
  if (c.Input == ModemInput::soft8) {
    console_log(console, "Decoding %s (Input = soft8, robust search, SyncBitErrors = %d) into %s\n",
                options.recording.c_str(), c.SyncBitErrors, output.c_str());
  } else if (c.Acquisition == AcquisitionMode::robust) {
    console_log(console, "Decoding %s (Acquisition = robust, SyncBitErrors = %d) into %s\n",
                options.recording.c_str(), c.SyncBitErrors, output.c_str());
  } else {
    console_log(console, "Decoding %s (Acquisition = described) into %s\n",
                options.recording.c_str(), output.c_str());
  }

  Acquirer acquirer = acquirer_for(c);
  uint64_t bytes = 0;
  uint64_t unreadable_times = 0;
  const int64_t start_ms = monotonic_ms();
  const RecordingSummary read =
      read_recording(options.recording, [&](int64_t received_us, std::span<const uint8_t> d) {
        bytes += d.size();
        if (received_us < 0 || received_us > latest_readable_us) ++unreadable_times;
        receive_datagram(station, acquirer, d, received_us);
        return true;
      });
  if (const std::string problem = recording_problem(read, options.recording); !problem.empty()) {
    log_message(console, "Decode: " + problem);
  }
  if (read.state == RecordingState::not_a_recording) {
    (void)remove_file(output);
    return 1;
  }
  if (unreadable_times > 0) {
    console_log(console,
                "Decode: %llu datagrams were recorded with a time outside 1970 to 9999; lines of "
                "their packets carry it, and readers of the log skip them\n",
                static_cast<unsigned long long>(unreadable_times));
  }
  const auto& s = station.statistics;
  const uint64_t packets = s.crc_accepted.load() + s.crc_tolerated.load();
  const uint64_t not_logged = s.packets_not_logged.load();
  console_log(console, "Decoded %llu datagrams (%llu bytes) in %.1f s: %llu packets to %s%s\n",
              static_cast<unsigned long long>(read.datagrams),
              static_cast<unsigned long long>(bytes),
              static_cast<double>(monotonic_ms() - start_ms) / 1000,
              static_cast<unsigned long long>(packets - not_logged), output.c_str(),
              not_logged > 0
                  ? format_text(", %llu not written", static_cast<unsigned long long>(not_logged))
                        .c_str()
                  : "");
  for (const std::string& line : statistics_lines(station.statistics, station.gui)) {
    log_message(console, line);
  }
  return 0;
}

}  // namespace kestrelis
