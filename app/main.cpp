// kestrelis-tnc: the terminal node controller of the ground station.

#include <cstring>
#include <optional>

#include "app/startup.hpp"
#include "app/station.hpp"
#include "keying/rigctld.hpp"
#include "platform/signals.hpp"

namespace kestrelis {

namespace {

constexpr int unkey_retry_interval_ms = 1000;

constexpr char usage[] =
    "Usage: kestrelis-tnc\n"
    "Terminal node controller of the Kestrelis ground station. Takes no arguments:\n"
    "every setting is read from Kestrelis/config.ini under $USERPROFILE or $HOME,\n"
    "written with defaults on first start. Runs until ended with Ctrl-C,\n"
    "SIGTERM or a closed terminal, unkeying the transmitter first.\n";

[[noreturn]] void run_tnc() {
  const Console startup_console;
  Station station(load_configuration(startup_console, profile_directory()), startup_console);
  check_rigctld(station.config, station.console);
  start_station(station);
  for (;;) {
    if (const std::optional<int> signal_number =
            wait_for_termination_signal(unkey_retry_interval_ms)) {
      // Never leave the transmitter keyed.
      unkey_for_exit(station.transmitter.keyer);
      exit_by_signal(*signal_number);
    }
    retry_unkey(station.transmitter.keyer);
  }
}

}  // namespace

}  // namespace kestrelis

int main(int argc, char** argv) {
  const kestrelis::Console console;
  if (argc > 1 && std::strcmp(argv[1], "--help") == 0) {
    kestrelis::console_text(console, kestrelis::usage);
    return 0;
  }
  if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
    kestrelis::console_text(console, "kestrelis-tnc " KESTRELIS_VERSION "\n");
    return 0;
  }
  kestrelis::run_tnc();
}
