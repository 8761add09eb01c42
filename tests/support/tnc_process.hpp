#pragma once
// Test support: the real kestrelis-tnc in a temporary profile directory.

#include <string>
#include <vector>

#include "support/process.hpp"

namespace kestrelis {

// A profile folder holding Kestrelis/config.ini with `config_text`, or no
// Kestrelis folder at all when `config_text` is empty.
class TncProfile {
 public:
  explicit TncProfile(const std::string& config_text = "");
  const std::string& home() const { return dir_.path(); }
  std::string folder() const { return dir_.path() + "/Kestrelis"; }
  std::string config_path() const { return folder() + "/config.ini"; }

 private:
  TempDir dir_;
};

// "[modem]" and "[KISS]" sections that put all three ports of the TNC on
// ports that were free a moment ago, so that tests can run side by side.
std::string free_ports_config();

// Starts kestrelis-tnc with HOME set to `home` and USERPROFILE removed.
ChildProcess start_tnc(const std::string& home, const std::vector<std::string>& args = {});

}  // namespace kestrelis
