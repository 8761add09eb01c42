#pragma once
// Where the per-user folder is: the profile that holds Kestrelis/.

#include <optional>
#include <string>

namespace kestrelis {

// The folder that holds Kestrelis/config.ini: USERPROFILE when set and not
// empty, else HOME; none when neither names a folder.
[[nodiscard]] std::optional<std::string> profile_directory();

}  // namespace kestrelis
