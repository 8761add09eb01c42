#include "support/station_capture.hpp"

#include <algorithm>
#include <regex>

#include "platform/clock.hpp"
#include "wire/kiss.hpp"

namespace kestrelis {

std::function<void(std::string_view)> CapturedLines::sink() {
  return [this](std::string_view text) {
    static const std::regex stamp(R"(^\[\d\d/\d\d \d\d:\d\d:\d\d\.\d{3}\] )");
    std::lock_guard lock(mutex_);
    lines_.push_back(std::regex_replace(std::string(text), stamp, ""));
  };
}

std::vector<std::string> CapturedLines::lines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

size_t CapturedLines::count(std::string_view text) const {
  std::lock_guard lock(mutex_);
  return static_cast<size_t>(std::ranges::count_if(
      lines_, [&](const std::string& l) { return l.find(text) != std::string::npos; }));
}

bool CapturedLines::wait_for(std::string_view text, size_t n, int timeout_ms) const {
  const int64_t deadline = monotonic_ms() + timeout_ms;
  while (count(text) < n) {
    if (monotonic_ms() > deadline) return false;
    sleep_ms(2);
  }
  return true;
}

StationCapture::StationCapture(TncConfig config, bool gui_to_sink)
    : station(std::move(config), Console{.verbose_level = 1, .sink = console_.sink()}) {
  if (!gui_to_sink) return;
  station.gui.sink = [this](std::span<const uint8_t> frame) {
    static const std::regex stamp(R"(^P\[\d\d/\d\d \d\d:\d\d:\d\d\.\d{3}\] )");
    KissDeframer deframer(frame.size());
    for (uint8_t b : frame) {
      if (const KissStep step = kiss_receive_byte(deframer, b); step.frame) {
        std::lock_guard lock(mutex_);
        gui_.push_back(
            std::regex_replace(std::string(step.frame->begin(), step.frame->end()), stamp, ""));
      }
    }
  };
}

std::vector<std::string> StationCapture::console() const { return console_.lines(); }

std::vector<std::string> StationCapture::gui() const {
  std::lock_guard lock(mutex_);
  return gui_;
}

}  // namespace kestrelis
