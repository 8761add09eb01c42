#pragma once
// The station: everything the TNC's threads share, built once at start-up
// and handed to each of them.

#include <string_view>
#include <utility>

#include "app/station_archive.hpp"
#include "app/statistics.hpp"
#include "config/config.hpp"
#include "console/console_log.hpp"
#include "gui/gui_link.hpp"
#include "keying/transmitter.hpp"

namespace kestrelis {

// What the keying and the transmissions read of the configuration.
inline RigctldSettings rigctld_settings(const TncConfig& c) {
  return {.Address = c.Address,
          .Port = c.Port,
          .PTT_ON_Command = c.PTT_ON_Command,
          .PPT_OFF_Command = c.PPT_OFF_Command};
}
inline TransmitSettings transmit_settings(const TncConfig& c) {
  return {.GR_TransmitPort = c.GR_TransmitPort,
          .PreambleLength = c.PreambleLength,
          .PostambleLength = c.PostambleLength,
          .KeyUpDelay = c.KeyUpDelay,
          .KeyDownDelay = c.KeyDownDelay,
          .rigctld = rigctld_settings(c)};
}

struct Station {
  // The console's verbose level comes from the configuration; keying failures
  // go to the GUI too.
  Station(TncConfig c, Console out)
      : config(std::move(c)),
        console(std::move(out)),
        gui(console, config.MaxClients),
        transmitter(transmit_settings(config), console) {
    console.verbose_level = config.VerboseLevel;
    statistics.soft_input = config.Input == ModemInput::soft8;
    transmitter.keyer.set_report([this](std::string_view line) { gui_text(gui, line); });
  }
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  const TncConfig config;  // read-only once built
  Console console;         // read-only once built
  GuiLink gui;
  Transmitter transmitter;
  DecoderStatistics statistics;  // written by the receive thread
  StationArchive archive;        // started by start_station
};

}  // namespace kestrelis
