#include "support/station_capture.hpp"

#include <regex>

#include "wire/kiss.hpp"

namespace kestrelis {

StationCapture::StationCapture(TncConfig config, bool gui_to_sink)
    : station(std::move(config),
              Console{.verbose_level = 1, .sink = [this](std::string_view t) {
                        static const std::regex stamp(R"(^\[\d\d/\d\d \d\d:\d\d:\d\d\.\d{3}\] )");
                        std::lock_guard lock(mutex_);
                        console_.push_back(std::regex_replace(std::string(t), stamp, ""));
                      }}) {
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

std::vector<std::string> StationCapture::console() const {
  std::lock_guard lock(mutex_);
  return console_;
}

std::vector<std::string> StationCapture::gui() const {
  std::lock_guard lock(mutex_);
  return gui_;
}

}  // namespace kestrelis
