#pragma once
// The GUI thread: a TCP server for one GUI client at a time, whose KISS
// frames become requests.

#include "platform/net.hpp"

// Thread routine. Listens on KISS_Address (all local IPv4 addresses when
// empty) at KISS_Port and serves one client after the other; pauses one
// second after a failed accept. Returns only when the listener cannot be set
// up, after its level-5 line.
void gui_server_thread();

// Serves one accepted client: publishes it as gui_socket, feeds every byte
// it sends to a fresh deframer and each complete frame to handle_gui_request,
// until the client leaves or a send fails; then withdraws and closes it.
void serve_gui_client(Socket client);
