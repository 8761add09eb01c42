// kestrelis-sim: the modem and the satellite for kestrelis-tnc, on loopback.

#include <string>
#include <string_view>
#include <vector>

#include "app/console_log.hpp"
#include "platform/sim_loop.hpp"
#include "sim/options.hpp"
#include "sim/simulator.hpp"

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  std::string error;
  const std::optional<SimOptions> options = parse_sim_options(args, error);
  if (!options) {
    console_print("kestrelis-sim: %s\n", error.c_str());
    return 2;
  }
  if (options->help) {
    console_text(sim_usage());
    return 0;
  }
  if (options->version) {
    console_text("kestrelis-sim " KESTRELIS_VERSION "\n");
    return 0;
  }
  catch_termination_signals();
  return run_sim(*options);
}
