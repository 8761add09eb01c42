#pragma once
// Test support: a Station whose console and GUI link write into lists instead
// of standard output and a client socket.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "app/station.hpp"

namespace kestrelis {

class StationCapture {
 public:
  // `gui_to_sink` false leaves the GUI link on its socket (the console is still captured).
  explicit StationCapture(TncConfig config = {}, bool gui_to_sink = true);

  // Console texts, a leading "[DD/MM hh:mm:ss.mmm] " removed.
  [[nodiscard]] std::vector<std::string> console() const;
  // The data of each GUI frame as text, a leading "P[DD/MM hh:mm:ss.mmm] " removed.
  [[nodiscard]] std::vector<std::string> gui() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> console_;
  std::vector<std::string> gui_;

 public:
  Station station;  // after the lists, which its sinks fill
};

}  // namespace kestrelis
