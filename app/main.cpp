// kestrelis-tnc: the terminal node controller of the ground station.

#include <cstring>

#include "app/console_log.hpp"
#include "app/startup.hpp"
#include "platform/signals.hpp"
#include "tx/rigctld.hpp"

namespace {

constexpr int unkey_retry_interval_ms = 1000;

constexpr char usage[] =
    "Usage: kestrelis-tnc\n"
    "Terminal node controller of the Kestrelis ground station. Takes no arguments:\n"
    "every setting is read from Kestrelis/config.ini under $USERPROFILE or $HOME,\n"
    "written with defaults on first start. Runs until ended with Ctrl-C,\n"
    "SIGTERM or a closed terminal, unkeying the transmitter first.\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--help") == 0) {
    console_text(usage);
    return 0;
  }
  if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
    console_text("kestrelis-tnc " KESTRELIS_VERSION "\n");
    return 0;
  }
  run_startup();
  for (;;) {
    if (const std::optional<int> signal_number =
            wait_for_termination_signal(unkey_retry_interval_ms)) {
      // Never leave the transmitter keyed.
      unkey_for_exit();
      exit_by_signal(*signal_number);
    }
    retry_unkey();
  }
}
