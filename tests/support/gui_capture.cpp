#include "support/gui_capture.hpp"

#include <mutex>
#include <regex>

#include "app/console_log.hpp"
#include "common/kiss_reader.hpp"
#include "gui/gui_link.hpp"

namespace {

std::mutex capture_mutex;
std::vector<std::vector<uint8_t>> frames;
std::vector<std::string> console_texts;

void keep_frame(std::span<const uint8_t> frame) {
  std::lock_guard lock(capture_mutex);
  frames.emplace_back(frame.begin(), frame.end());
}

void keep_console(std::string_view text) {
  std::lock_guard lock(capture_mutex);
  console_texts.emplace_back(text);
}

std::vector<std::string> without_stamps(std::vector<std::string> texts, const std::regex& stamp) {
  for (auto& t : texts) t = std::regex_replace(t, stamp, "");
  return texts;
}

}  // namespace

OutputCapture::OutputCapture() {
  clear();
  gui_sink = keep_frame;
  console_sink = keep_console;
}

OutputCapture::~OutputCapture() {
  gui_sink = nullptr;
  console_sink = nullptr;
}

void OutputCapture::clear() {
  std::lock_guard lock(capture_mutex);
  frames.clear();
  console_texts.clear();
}

std::vector<std::vector<uint8_t>> OutputCapture::gui_frames() const {
  std::lock_guard lock(capture_mutex);
  std::vector<std::vector<uint8_t>> data;
  for (const auto& f : frames) {
    KissReader reader;
    kiss_read(reader, f, [&](std::span<const uint8_t> d) { data.emplace_back(d.begin(), d.end()); });
  }
  return data;
}

std::vector<std::string> OutputCapture::gui_texts() const {
  std::vector<std::string> texts;
  for (const auto& f : gui_frames()) texts.emplace_back(f.begin(), f.end());
  return texts;
}

std::vector<std::string> OutputCapture::console() const {
  std::lock_guard lock(capture_mutex);
  return console_texts;
}

std::vector<std::string> OutputCapture::console_messages() const {
  static const std::regex stamp(R"(^\[\d\d/\d\d \d\d:\d\d:\d\d\.\d{3}\] )");
  return without_stamps(console(), stamp);
}

std::vector<std::string> OutputCapture::gui_messages() const {
  static const std::regex stamp(R"(^P\[\d\d/\d\d \d\d:\d\d:\d\d\.\d{3}\] )");
  return without_stamps(gui_texts(), stamp);
}
