#pragma once
// Test support: console lines kept in a list, and a Station whose console and
// GUI link write into lists instead of standard output and a client socket.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "app/station.hpp"

namespace kestrelis {

// Console lines that a stage under test prints from any of its threads, each
// without the "[DD/MM hh:mm:ss.mmm] " the console puts before it.
class CapturedLines {
 public:
  // The Console sink that keeps the lines; the object must outlive it.
  [[nodiscard]] std::function<void(std::string_view)> sink();
  [[nodiscard]] std::vector<std::string> lines() const;
  // The lines that hold `text`.
  [[nodiscard]] size_t count(std::string_view text) const;
  // Waits until `n` lines hold `text`. False when `timeout_ms` passed first.
  [[nodiscard]] bool wait_for(std::string_view text, size_t n, int timeout_ms) const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

class StationCapture {
 public:
  // `gui_to_sink` false leaves the GUI link on its socket (the console is still captured).
  explicit StationCapture(TncConfig config = {}, bool gui_to_sink = true);

  // Console texts, a leading "[DD/MM hh:mm:ss.mmm] " removed.
  [[nodiscard]] std::vector<std::string> console() const;
  // The data of each GUI frame as text, a leading "P[DD/MM hh:mm:ss.mmm] " removed.
  [[nodiscard]] std::vector<std::string> gui() const;

 private:
  CapturedLines console_;
  mutable std::mutex mutex_;
  std::vector<std::string> gui_;

 public:
  Station station;  // after the lists, which its sinks fill
};

}  // namespace kestrelis
