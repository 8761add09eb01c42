#pragma once
// Start-up: configuration, the per-user folder, the rigctld check, the
// transmit socket, the worker threads.

#include <optional>
#include <string>

#include "platform/net.hpp"

// The UDP socket uplink frames leave by, and where they go: 127.0.0.1 at
// GR_TransmitPort. Prepared by start-up before the worker threads start;
// used only by the GUI thread afterwards.
extern Socket tx_socket;
extern Ipv4Endpoint tx_destination;

// The folder that holds Kestrelis/config.ini: USERPROFILE when set and not
// empty, else HOME; none when neither names a folder.
std::optional<std::string> profile_directory();

// Makes sure the folder and the default config.ini exist under `profile`,
// then loads the file into tnc_config and checks its ranges. Prints the
// operator's messages; a folder that cannot be written leaves the defaults.
void load_configuration(const std::optional<std::string>& profile);

// Connects once to rigctld at Address:Port and reports whether it answered.
// Skipped silently when Address is empty.
void check_rigctld();

// Opens tx_socket and fills tx_destination.
void prepare_transmit_socket();

// The whole start-up sequence; then blocks the termination signals, which
// the caller waits for, and starts the worker threads.
void run_startup();
