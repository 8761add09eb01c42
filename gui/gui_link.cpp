#include "gui/gui_link.hpp"

#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

#include "app/console_log.hpp"
#include "gui/kiss.hpp"
#include "platform/net.hpp"

std::atomic<int> gui_socket{-1};
GuiSink gui_sink = nullptr;

namespace {

// Serialises sending with withdrawing the socket: a frame goes whole to the
// client it was meant for, and a descriptor is never used after its release.
std::mutex gui_mutex;

// The error of the send that gave up the current connection; 0 while it holds.
int failed_send_error = 0;

// A GUI that stops reading must not hold the sending thread for long: each
// frame is written within this time or the connection is ended.
constexpr int gui_send_timeout_ms = 3000;

constexpr size_t text_capacity = 300;  // 299 characters and the terminating zero

}  // namespace

void send_to_gui(std::span<const uint8_t> data) {
  std::vector<uint8_t> frame = kiss_encode(data);
  if (gui_sink != nullptr) {
    gui_sink(frame);
    return;
  }
  std::unique_lock lock(gui_mutex);
  int fd = gui_socket.load();
  if (fd < 0) {
    lock.unlock();
    console_log("Cannot send data to GUI (GUI not connected)\n");
    return;
  }
  int error = send_all_within(fd, frame, gui_send_timeout_ms);
  if (error == 0) return;
  // Wake the GUI thread's receive; it closes the descriptor it owns. The
  // close resets the connection: a FIN would queue behind everything the
  // client left unread, up to megabytes that would go stale and that keep the
  // client from learning it was dropped.
  gui_socket.store(-1);
  failed_send_error = error;
  (void)reset_on_close(fd);
  shutdown_both(fd);
  lock.unlock();
  console_log("GUI communicatino failed (Error %d)\n", error);
}

void gui_text(std::string_view text) {
  if (text.size() > text_capacity - 1) text = text.substr(0, text_capacity - 1);
  std::string line = "P[" + format_timestamp_now() + "] ";
  line.append(text);
  send_to_gui(std::span(reinterpret_cast<const uint8_t*>(line.data()), line.size()));
}

void gui_message(const char* format, ...) {
  std::array<char, text_capacity> text{};
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(text.data(), text.size(), format, args);
  va_end(args);
  if (n < 0) return;
  gui_text(text.data());
}

void gui_connection_opened(int fd) {
  std::lock_guard lock(gui_mutex);
  gui_socket.store(fd);
  failed_send_error = 0;
}

int gui_connection_failure(int fd) {
  std::lock_guard lock(gui_mutex);
  return gui_socket.load() == fd ? 0 : failed_send_error;
}

bool gui_connection_closing(int fd) {
  std::lock_guard lock(gui_mutex);
  if (gui_socket.load() != fd) return false;
  gui_socket.store(-1);
  return true;
}
