#pragma once
// Start-up: the per-user folder and its configuration, the rigctld check,
// the worker threads.

#include <optional>
#include <string>

#include "app/station.hpp"
#include "config/config.hpp"
#include "config/profile_paths.hpp"
#include "console/console_log.hpp"

namespace kestrelis {

// Makes sure the folder and the default config.ini exist under `profile`,
// then loads the file, whose values it cannot honour are replaced. Prints the operator's messages;
// a folder that cannot be written leaves the in-code defaults.
[[nodiscard]] TncConfig load_configuration(const Console& console,
                                           const std::optional<std::string>& profile);

// Loads the configuration from `file` as it is, creating nothing (the
// command line's --config). None when the file cannot
// be read, after "Can't load 'FILE': REASON\n": the operator named it, and
// running on the in-code defaults would hide the mistake.
[[nodiscard]] std::optional<TncConfig> load_configuration_file(const Console& console,
                                                               const std::string& file);

// The configuration the TNC starts with: from `config_file` when one is
// given (none when it cannot be read), else from the profile.
[[nodiscard]] std::optional<TncConfig> load_startup_configuration(
    const Console& console, const std::optional<std::string>& config_file,
    const std::optional<std::string>& profile);

// The exit status when the configuration file given cannot be read.
constexpr int config_unreadable_status = 2;

// Connects once to rigctld at Address:Port and reports whether it answered,
// and where it was looked for when it did not. With Address empty, says that
// keying is off.
void check_rigctld(const TncConfig& config, const Console& console);

// Opens the transmit socket, starts the packet log and the stream recording
// under `profile` as the configuration asks, blocks the termination signals
// (which the caller then waits for) and starts the GUI thread and the receive
// thread.
void start_station(Station& station, const std::optional<std::string>& profile);

}  // namespace kestrelis
