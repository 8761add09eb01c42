#pragma once
// Test support: captures what would go to the GUI, frame by frame, and the
// console, line by line, through the sinks of the GUI link and the log.

#include <cstdint>
#include <string>
#include <vector>

// While alive, every frame sent to the GUI and every console text is kept
// here instead of being sent or printed.
class OutputCapture {
 public:
  OutputCapture();
  OutputCapture(const OutputCapture&) = delete;
  OutputCapture& operator=(const OutputCapture&) = delete;
  ~OutputCapture();

  // The data of each GUI frame, unescaped, without FENDs and command byte.
  std::vector<std::vector<uint8_t>> gui_frames() const;
  // The GUI frames as text.
  std::vector<std::string> gui_texts() const;
  // Each console text as it was printed (time-stamped lines keep their stamp).
  std::vector<std::string> console() const;
  // Console texts with a leading "[DD/MM hh:mm:ss.mmm] " stamp removed.
  std::vector<std::string> console_messages() const;
  // GUI texts with a leading "P[DD/MM hh:mm:ss.mmm] " removed (the "P" stays off).
  std::vector<std::string> gui_messages() const;
  void clear();
};
