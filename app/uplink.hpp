#pragma once
// The uplink: the GUI's KISS frames to requests, frames and transmissions.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "app/station.hpp"
#include "gui/gui_link_rules.hpp"
#include "request/requests.hpp"

namespace kestrelis {

// One line of a refusal as the console prints it and as the GUI shows it.
struct RefusalLine {
  std::string console;  // with its line end, or none as two refusals always were
  std::string gui;
};

// What the operator is told of `refusal`, a line at a time.
[[nodiscard]] std::vector<RefusalLine> refusal_lines(const Refusal& refusal);

// Acts on the data of one frame from GUI client `from`: parses and checks the
// request, writes its console lines, sends the lines about it (refusals,
// warnings, the confirmation) to that client alone, and transmits its frame.
// Returns when the transmitter is unkeyed again.
void handle_gui_frame(Station& station, std::span<const uint8_t> data,
                      GuiClient from = all_gui_clients);

// The transmit thread: hands each request of the GUI link to
// handle_gui_frame, one at a time in the order they arrived, until the link
// stops.
void uplink_thread(Station& station);

// The GUI thread. Listens on KISS_Address (all local IPv4 addresses when
// empty) at KISS_Port, starts the transmit thread and serves the GUI clients
// (GuiLink::serve). Returns only when the listener cannot be set up, after
// its level-5 line, or when the link is stopped.
void gui_server_thread(Station& station);

}  // namespace kestrelis
