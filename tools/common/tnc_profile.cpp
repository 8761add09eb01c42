#include "common/tnc_profile.hpp"

#include "config/profile_paths.hpp"
#include "platform/files.hpp"

namespace kestrelis {

std::optional<TncConfig> tnc_file_config(const std::string& file) {
  TncConfig config;
  // The TNC reports the replaced values on its own console; a tool only needs
  // what is in force.
  if (load_config(file, config) < 0) return std::nullopt;
  return config;
}

TncConfig tnc_profile_config() {
  const std::optional<std::string> profile = profile_directory();
  if (!profile) return {};
  // A file that cannot be read leaves the defaults, as it does for the TNC.
  return tnc_file_config(profile_paths(*profile).config_file).value_or(TncConfig{});
}

}  // namespace kestrelis
