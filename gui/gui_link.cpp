#include "gui/gui_link.hpp"

#include <string>
#include <vector>

#include "platform/net.hpp"
#include "wire/kiss.hpp"

namespace kestrelis {

namespace {

// A GUI that stops reading must not hold the sending thread for long: each
// frame is written within this time or the connection is ended.
constexpr int gui_send_timeout_ms = 3000;

constexpr size_t text_limit = 299;

}  // namespace

void send_to_gui(GuiLink& link, std::span<const uint8_t> data) {
  const std::vector<uint8_t> frame = kiss_encode(data);
  if (link.sink) {
    link.sink(frame);
    link.frames_sent.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  std::unique_lock lock(link.mutex);
  const int fd = link.gui_socket.load();
  if (fd < 0) {
    lock.unlock();
    link.frames_dropped.fetch_add(1, std::memory_order_relaxed);
    console_log(link.console, "Cannot send data to GUI (GUI not connected)\n");
    return;
  }
  const int error = send_all_within(fd, frame, gui_send_timeout_ms);
  if (error == 0) {
    link.frames_sent.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  // Wake the GUI thread's receive; it closes the descriptor it owns. The
  // close resets the connection: a FIN would queue behind everything the
  // client left unread, up to megabytes that would go stale and that keep the
  // client from learning it was dropped.
  link.gui_socket.store(-1);
  link.failed_send_error = error;
  (void)reset_on_close(fd);
  (void)shutdown_both(fd);
  lock.unlock();
  console_log(link.console, "GUI communicatino failed (Error %d)\n", error);
}

void gui_text(GuiLink& link, std::string_view text) {
  const std::string stamp = format_timestamp_now();
  text = text.substr(0, text_limit);
  std::string line;
  line.reserve(stamp.size() + text.size() + 4);
  line.append("P[").append(stamp).append("] ").append(text);
  send_to_gui(link, std::span(reinterpret_cast<const uint8_t*>(line.data()), line.size()));
}

void gui_connection_opened(GuiLink& link, int fd) {
  std::lock_guard lock(link.mutex);
  link.gui_socket.store(fd);
  link.failed_send_error = 0;
}

int gui_connection_failure(GuiLink& link, int fd) {
  std::lock_guard lock(link.mutex);
  return link.gui_socket.load() == fd ? 0 : link.failed_send_error;
}

bool gui_connection_closing(GuiLink& link, int fd) {
  std::lock_guard lock(link.mutex);
  if (link.gui_socket.load() != fd) return false;
  link.gui_socket.store(-1);
  return true;
}

}  // namespace kestrelis
