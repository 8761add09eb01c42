#pragma once
// The TNC's own settings, as the tools that talk to a running TNC need them:
// its ports, so that a tool started without port options finds the TNC.

#include <optional>
#include <string>

#include "config/config.hpp"

namespace kestrelis {

// The configuration the TNC takes at start from Kestrelis/config.ini in the
// profile folder (USERPROFILE, else HOME), with values it would refuse
// replaced by their defaults as it does; the in-code defaults when there is
// no profile or no file. Reads only: the profile belongs to the TNC, which
// creates it on its first start.
[[nodiscard]] TncConfig tnc_profile_config();

// The configuration a TNC started with --config `file` takes, read the same
// way; none when the file cannot be read.
[[nodiscard]] std::optional<TncConfig> tnc_file_config(const std::string& file);

}  // namespace kestrelis
