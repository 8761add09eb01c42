#pragma once
// The uplink: the GUI's KISS frames to requests, frames and transmissions.

#include <cstdint>
#include <span>

#include "app/station.hpp"
#include "platform/net.hpp"

namespace kestrelis {

// Acts on the data of one frame from the GUI: parses and checks the request,
// writes its console lines and GUI confirmations, and transmits its frame.
// Returns when the transmitter is unkeyed again.
void handle_gui_frame(Station& station, std::span<const uint8_t> data);

// Serves one accepted client: publishes it on the GUI link, feeds every byte
// it sends to a fresh deframer and each complete frame to handle_gui_frame,
// until the client leaves or a send fails; then withdraws and closes it.
void serve_gui_client(Station& station, Socket client);

// The GUI thread. Listens on KISS_Address (all local IPv4 addresses when
// empty) at KISS_Port and serves one client after the other; pauses one
// second after a failed accept. Returns only when the listener cannot be set
// up, after its level-5 line.
void gui_server_thread(Station& station);

}  // namespace kestrelis
