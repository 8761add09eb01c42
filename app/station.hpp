#pragma once
// The station: everything the TNC's threads share, built once at start-up
// and handed to each of them.

#include <utility>

#include "config/config.hpp"
#include "console/console_log.hpp"
#include "gui/gui_link.hpp"
#include "keying/transmitter.hpp"

namespace kestrelis {

struct Station {
  // The console's verbose level comes from the configuration.
  Station(TncConfig c, Console out)
      : config(std::move(c)), console(std::move(out)), gui(console), transmitter(config, console) {
    console.verbose_level = config.VerboseLevel;
  }
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  const TncConfig config;  // read-only once built
  Console console;         // read-only once built
  GuiLink gui;
  Transmitter transmitter;
};

}  // namespace kestrelis
