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

ProfilePaths profile_paths(std::string_view profile) {
  const std::string folder = path_join(profile, "Kestrelis");
  return {folder,
          path_join(folder, "config.ini"),
          path_join(folder, "packets"),
          path_join(folder, "recordings"),
          path_join(folder, "forward.state"),
          path_join(folder, "forward.lock"),
          path_join(folder, "forward-rejected.jsonl")};
}

}  // namespace kestrelis
