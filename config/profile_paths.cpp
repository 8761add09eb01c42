#include "config/profile_paths.hpp"

#include "platform/files.hpp"

namespace kestrelis {

std::optional<std::string> profile_directory() {
  // An empty value names no folder: it would put the profile at the root.
  for (const char* name : {"USERPROFILE", "HOME"}) {
    if (auto profile = env_var(name); profile && !profile->empty()) return profile;
  }
  return std::nullopt;
}

}  // namespace kestrelis
