#include "support/station_capture.hpp"

#include <regex>

#include "wire/kiss.hpp"

namespace kestrelis {

namespace {

std::vector<std::string> without(const std::vector<std::string>& texts, const std::regex& stamp) {
  std::vector<std::string> out;
  for (const auto& t : texts) out.push_back(std::regex_replace(t, stamp, ""));
  return out;
}

}  // namespace

StationCapture::StationCapture(TncConfig config, bool gui_to_sink)
    : station(std::move(config), Console{.verbose_level = 1, .sink = [this](std::string_view t) {
                                           std::lock_guard lock(mutex_);
                                           console_.emplace_back(t);
                                         }}) {
  if (!gui_to_sink) return;
  station.gui.sink = [this](std::span<const uint8_t> frame) {
    KissDeframer deframer(frame.size());
    for (uint8_t b : frame) {
      if (const KissStep step = kiss_receive_byte(deframer, b); step.frame) {
        std::lock_guard lock(mutex_);
        gui_.emplace_back(step.frame->begin(), step.frame->end());
      }
    }
  };
}

std::vector<std::string> StationCapture::console() const {
  static const std::regex stamp(R"(^\[\d\d/\d\d \d\d:\d\d:\d\d\.\d{3}\] )");
  std::lock_guard lock(mutex_);
  return without(console_, stamp);
}

std::vector<std::string> StationCapture::gui() const {
  static const std::regex stamp(R"(^P\[\d\d/\d\d \d\d:\d\d:\d\d\.\d{3}\] )");
  std::lock_guard lock(mutex_);
  return without(gui_, stamp);
}

void StationCapture::clear() {
  std::lock_guard lock(mutex_);
  console_.clear();
  gui_.clear();
}

}  // namespace kestrelis
