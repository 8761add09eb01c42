#pragma once
// Everything that goes to the GUI: KISS frames on the one connected client,
// sent from the receive thread and the GUI thread alike.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string_view>

#include "console/console_log.hpp"

namespace kestrelis {

// The link to the GUI client, shared by the two worker threads.
struct GuiLink {
  explicit GuiLink(const Console& c) : console(c) {}
  const Console& console;  // where a failed send is reported
  // The connected client's socket, -1 while none is connected. Published by
  // the GUI thread; senders use it only under `mutex`.
  std::atomic<int> gui_socket{-1};
  // Serialises sending with withdrawing the socket: a frame goes whole to the
  // client it was meant for, and a descriptor is never used after its release.
  std::mutex mutex;
  int failed_send_error = 0;  // the send that gave up the connection; 0 while it holds
  // Statistics, counted by whichever thread sends: frames that went out (or
  // to the sink), and frames dropped because no client was connected.
  std::atomic<uint64_t> frames_sent{0};
  std::atomic<uint64_t> frames_dropped{0};
  // Receives each encoded frame instead of a client when set (benchmarks,
  // tests); set before any thread starts.
  std::function<void(std::span<const uint8_t> frame)> sink;
};

// Sends `data` as one KISS frame (command byte 0x00), whole within 3 s or
// not at all.
// No client: "Cannot send data to GUI (GUI not connected)\n". A failed or
// timed-out send: "GUI communicatino failed (Error %d)\n" and the connection
// is reset, dropping whatever the client left unread. Nothing is kept or
// retried.
void send_to_gui(GuiLink& link, std::span<const uint8_t> data);

// Sends "P[time stamp] text", the text cut to 299 characters and taken as it
// is: no "%" in it is interpreted.
void gui_text(GuiLink& link, std::string_view text);

// GUI thread: publishes a newly accepted client socket.
void gui_connection_opened(GuiLink& link, int fd);

// GUI thread: 0 while `fd` is the connected client; once a failed send has
// given it up, that send's error number.
[[nodiscard]] int gui_connection_failure(GuiLink& link, int fd);

// GUI thread, which owns `fd` and closes it afterwards in any case: withdraws
// it so that no sender uses it any more. Returns false when a failed send had
// already withdrawn it and shut it down.
[[nodiscard]] bool gui_connection_closing(GuiLink& link, int fd);

}  // namespace kestrelis
