#pragma once
// Where the per-user folder is, and where everything in it lives: the one
// place that names its files, for the TNC, the forwarder and the tools.

#include <optional>
#include <string>
#include <string_view>

namespace kestrelis {

// The folder that holds Kestrelis/config.ini: USERPROFILE when set and not
// empty, else HOME; none when neither names a folder.
[[nodiscard]] std::optional<std::string> profile_directory();

// The paths of the per-user folder under a profile folder, joined with the
// platform's separator; nothing is created or checked.
struct ProfilePaths {
  std::string folder;            // PROFILE/Kestrelis
  std::string config_file;       // the settings: Kestrelis/config.ini
  std::string packets;           // the packet log's day files: Kestrelis/packets
  std::string recordings;        // the stream recordings: Kestrelis/recordings
  std::string forward_state;     // the forwarder's place in the log: Kestrelis/forward.state
  std::string forward_lock;      // held by the running forwarder: Kestrelis/forward.lock
  std::string forward_rejected;  // packets the server refused: Kestrelis/forward-rejected.jsonl
};

// The paths of the per-user folder under `profile` (see profile_directory).
[[nodiscard]] ProfilePaths profile_paths(std::string_view profile);

}  // namespace kestrelis
