#include "support/gui_capture.hpp"

#include <mutex>
#include <regex>

#include "app/console_log.hpp"
#include "gui/gui_link.hpp"
#include "gui/kiss.hpp"

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

std::vector<uint8_t> unescape(const std::vector<uint8_t>& frame) {
  std::vector<uint8_t> data;
  // frame: FEND, command, escaped data, FEND
  for (size_t i = 2; i + 1 < frame.size(); ++i) {
    if (frame[i] == FESC && i + 2 < frame.size()) {
      data.push_back(frame[i + 1] == TFEND ? FEND : FESC);
      ++i;
    } else {
      data.push_back(frame[i]);
    }
  }
  return data;
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
  for (const auto& f : frames) data.push_back(unescape(f));
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
  std::vector<std::string> messages;
  for (const auto& t : console()) messages.push_back(std::regex_replace(t, stamp, ""));
  return messages;
}

std::vector<std::string> OutputCapture::gui_messages() const {
  static const std::regex stamp(R"(^P\[\d\d/\d\d \d\d:\d\d:\d\d\.\d{3}\] )");
  std::vector<std::string> messages;
  for (const auto& t : gui_texts()) messages.push_back(std::regex_replace(t, stamp, ""));
  return messages;
}
