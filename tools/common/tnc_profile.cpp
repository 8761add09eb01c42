#include "common/tnc_profile.hpp"

#include "app/startup.hpp"

namespace kestrelis {

TncConfig tnc_profile_config() {
  TncConfig config;
  const std::optional<std::string> profile = profile_directory();
  if (!profile) return config;
  // A file that cannot be read leaves the defaults, as it does for the TNC.
  (void)load_config(*profile + "/Kestrelis/config.ini", config);
  // The TNC reports the refused values on its own console; a tool only needs
  // what is in force.
  (void)check_config_ranges(config);
  return config;
}

}  // namespace kestrelis
