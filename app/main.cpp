// kestrelis-tnc: the terminal node controller of the ground station.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/exit_budget.hpp"
#include "app/recording_decode.hpp"
#include "app/startup.hpp"
#include "app/station.hpp"
#include "app/statistics.hpp"
#include "keying/rigctld.hpp"
#include "platform/clock.hpp"
#include "platform/signals.hpp"
#include "text/command_line.hpp"

namespace kestrelis {

namespace {

constexpr int unkey_retry_interval_ms = 1000;
constexpr int usage_status = 2;

constexpr char usage[] =
    "Usage: kestrelis-tnc [--config FILE] [--unkey]\n"
    "       kestrelis-tnc [--config FILE] --decode RECORDING [--output FILE]\n"
    "                     [--acquisition described|robust] [--sync-bit-errors N]\n"
    "Terminal node controller of the Kestrelis ground station. Every setting is\n"
    "read from Kestrelis/config.ini under $USERPROFILE or $HOME, written with\n"
    "defaults on first start, or from FILE as it is (nothing is created). Runs\n"
    "until ended with Ctrl-C, SIGTERM or a closed terminal, unkeying the\n"
    "transmitter first. SIGUSR1 prints the decoder's statistics. On Windows,\n"
    "Ctrl+C, closing the console window, log-off and shut-down end it alike (the\n"
    "last three within 4 s: the off command first, then the packet log), and\n"
    "Ctrl+Break prints the statistics.\n"
    "[KISS] MaxClients (1 to 16, default 1) GUI clients are served at once; a\n"
    "further one is sent \"TNC busy: ...\" and closed. Every client gets every\n"
    "downlink frame; requests from all of them are sent one at a time in the\n"
    "order they came, and the lines about a request go to its sender. A request\n"
    "still waiting for the transmitter is dropped when its client leaves.\n"
    "  --config FILE  read FILE instead of the profile's config.ini\n"
    "  --unkey        only send rigctld the unkeying command once and end: for a\n"
    "                 service manager, after a TNC that may have left the\n"
    "                 transmitter keyed ended (status 1 when it was not taken)\n"
    "  --decode RECORDING  run a stream recording through the receive chain as\n"
    "                 fast as it goes, writing its packets with their recorded times\n"
    "                 to FILE (default RECORDING.decoded.jsonl, never overwritten);\n"
    "                 the configuration's Acquisition and SyncBitErrors unless\n"
    "                 given; no port is opened, nothing keyed\n"
    "  --help         print this text\n"
    "  --version      print the version\n";

void print_statistics(const Station& station) {
  for (const std::string& line : statistics_lines(station.statistics, station.gui)) {
    log_message(station.console, line);
  }
}

[[noreturn]] void run_tnc(const std::optional<std::string>& config_file) {
  const Console startup_console;
  const std::optional<std::string> profile = profile_directory();
  std::optional<TncConfig> config =
      load_startup_configuration(startup_console, config_file, profile);
  if (!config) std::exit(config_unreadable_status);
  Station station(std::move(*config), startup_console);
  check_rigctld(station.config, station.console);
  start_station(station, profile);
  const int64_t interval_ms = std::chrono::milliseconds(station.config.StatsInterval).count();
  int64_t next_retry_ms = monotonic_ms() + unkey_retry_interval_ms;
  int64_t next_statistics_ms = interval_ms > 0 ? monotonic_ms() + interval_ms : INT64_MAX;
  for (;;) {
    const int64_t wait_ms = std::min(next_retry_ms, next_statistics_ms) - monotonic_ms();
    const std::optional<CaughtSignal> caught =
        wait_for_signal(static_cast<int>(std::clamp<int64_t>(wait_ms, 0, unkey_retry_interval_ms)));
    if (caught && caught->ending_status) {
      // A worker that cannot go on: the same exit path, without statistics.
      (void)station.transmitter.keyer.unkey_for_exit(
          exit_unkey_deadline_ns(false, caught->caught_ms));
      finish_archive(station.archive, station.console,
                     exit_drain_ms(false, caught->caught_ms, monotonic_ms()));
      exit_process(*caught->ending_status);
    }
    if (caught && !caught->statistics) {
      // Never leave the transmitter keyed. An ending the system follows by
      // ending the process itself shortens the waits to fit its time.
      (void)station.transmitter.keyer.unkey_for_exit(
          exit_unkey_deadline_ns(caught->must_end_soon, caught->caught_ms));
      finish_archive(station.archive, station.console,
                     exit_drain_ms(caught->must_end_soon, caught->caught_ms, monotonic_ms()));
      print_statistics(station);
      exit_by_signal(caught->number);
    }
    if (caught) print_statistics(station);
    const int64_t now_ms = monotonic_ms();
    if (now_ms >= next_statistics_ms) {
      print_statistics(station);
      next_statistics_ms += interval_ms;
      if (next_statistics_ms <= now_ms) next_statistics_ms = now_ms + interval_ms;
    }
    if (now_ms >= next_retry_ms) {
      station.transmitter.keyer.retry_unkey();
      next_retry_ms = monotonic_ms() + unkey_retry_interval_ms;
    }
  }
}

// A TNC that crashed or was killed never unkeyed, and the next one does not
// know it was keyed: this sends the off command whatever the state.
int unkey_only(const std::optional<std::string>& config_file) {
  const Console console;
  const std::optional<TncConfig> loaded =
      load_startup_configuration(console, config_file, profile_directory());
  if (!loaded) return config_unreadable_status;
  const TncConfig& config = *loaded;
  if (config.Address.empty()) return 0;
  const RigctldSettings rigctld = rigctld_settings(config);
  Keyer keyer(rigctld, console);
  keyer.count_as_keyed();
  if (!keyer.unkey_for_exit()) return 1;
  console_log(console, "Transmitter unkeyed: rigctld took \"%s\"\n",
              config.PPT_OFF_Command.c_str());
  return 0;
}

int run(int argc, char** argv) {
  hold_statistics_requests();
  const Console console;
  std::optional<std::string> config_file;
  bool unkey = false;
  CommandLine line = command_line(argc, argv);
  while (const std::optional<std::string_view> arg = next_word(line)) {
    if (*arg == "--decode") {
      std::string error;
      const std::optional<DecodeOptions> options = parse_decode_options(line.words, error);
      if (!options) {
        console_text(console, "kestrelis-tnc: " + error + "\n" + usage);
        return usage_status;
      }
      return decode_recording(*options);
    }
    if (*arg == "--help") {
      console_text(console, usage);
      return 0;
    }
    if (*arg == "--version") {
      console_text(console, "kestrelis-tnc " KESTRELIS_VERSION "\n");
      return 0;
    }
    if (*arg == "--unkey" && !unkey) {
      unkey = true;
      continue;
    }
    if (const auto value = *arg == "--config" && !config_file ? option_value(line) : std::nullopt) {
      config_file = std::string(*value);
      continue;
    }
    console_text(console,
                 "kestrelis-tnc: unknown or incomplete option " + std::string(*arg) + "\n" + usage);
    return usage_status;
  }
  if (unkey) return unkey_only(config_file);
  run_tnc(config_file);
}

}  // namespace

}  // namespace kestrelis

int main(int argc, char** argv) { return kestrelis::run(argc, argv); }
