#pragma once
// Everything that goes to the GUI: KISS frames on the one connected client,
// sent from the receive thread and the GUI thread alike.

#include <atomic>
#include <cstdint>
#include <span>
#include <string_view>

// The connected client's socket, -1 while none is connected. Published by
// the GUI server thread; senders use it only under the link's lock.
extern std::atomic<int> gui_socket;

// Tests and benchmarks: when set, receives each encoded frame instead of the
// socket. Set before any thread starts.
using GuiSink = void (*)(std::span<const uint8_t> frame);
extern GuiSink gui_sink;

// Sends `data` as one KISS frame (command byte 0x00), whole within 3 s or
// not at all.
// No client: "Cannot send data to GUI (GUI not connected)\n". A failed or
// timed-out send: "GUI communicatino failed (Error %d)\n" and the connection
// is reset, dropping whatever the client left unread. Nothing is kept or
// retried.
void send_to_gui(std::span<const uint8_t> data);

// Sends "P[time stamp] text" with the text formatted printf-style, cut to
// 299 characters.
[[gnu::format(printf, 1, 2)]] void gui_message(const char* format, ...);

// The same with `text` taken as it is: no "%" in it is interpreted.
void gui_text(std::string_view text);

// GUI server thread: publishes a newly accepted client socket.
void gui_connection_opened(int fd);

// GUI server thread: 0 while `fd` is the connected client; once a failed send
// has given it up, that send's error number.
int gui_connection_failure(int fd);

// GUI server thread, which owns `fd` and closes it afterwards in any case:
// withdraws it so that no sender uses it any more. Returns false when a failed
// send had already withdrawn it and shut it down.
bool gui_connection_closing(int fd);
