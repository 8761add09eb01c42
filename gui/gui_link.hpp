#pragma once
// The link to the GUI clients: one thread accepts them, writes what the
// senders queued for them and reads their KISS frames into one request queue;
// any thread sends, and never waits on a client's socket.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "console/console_log.hpp"
#include "gui/gui_link_rules.hpp"
#include "platform/net.hpp"
#include "platform/thread_safety.hpp"

namespace kestrelis {

class GuiLink {
 public:
  // Serves up to `max_clients` (MaxClients) clients at once; prints on `console`.
  GuiLink(const Console& console, int max_clients);
  GuiLink(const GuiLink&) = delete;
  GuiLink& operator=(const GuiLink&) = delete;

  // Any thread. Encodes `data` once as a KISS frame (command byte 0x00) and
  // queues it for every connected client, or for client `to` alone. A frame
  // that reaches no client prints "Cannot send data to GUI (GUI not
  // connected)\n" and is counted dropped. A client whose unsent bytes would
  // pass gui_unsent_limit is dropped instead (the GUI thread closes it and
  // prints why); the others get the frame.
  void send(std::span<const uint8_t> data, GuiClient to = all_gui_clients) EXCLUDES(mutex_);

  // The GUI thread: serves the listening socket `listener_fd` until stop().
  // Admits up to MaxClients connections; a further one is sent one text line
  // saying that the TNC is busy and is closed. Feeds each client's bytes to
  // its own deframer and queues every complete frame as a request. Prints the
  // level-1 lines of clients coming and going, the level-4 lines of KISS
  // framing, and a line for each request dropped because its client left
  // before its turn. Closes every client before it returns.
  void serve(int listener_fd) EXCLUDES(mutex_);

  // The transmit thread: the next request whose turn has come, waiting for
  // one; none once stop() was called. Call request_done when it is handled.
  [[nodiscard]] std::optional<ClientFrame> next_request() EXCLUDES(mutex_);
  void request_done() EXCLUDES(mutex_);

  // Any thread: ends serve() and next_request().
  void stop() EXCLUDES(mutex_);

  // Frames queued for at least one client (or given to the sink), and frames
  // that reached none.
  [[nodiscard]] uint64_t frames_sent() const {
    return frames_sent_.load(std::memory_order_relaxed);
  }
  [[nodiscard]] uint64_t frames_dropped() const {
    return frames_dropped_.load(std::memory_order_relaxed);
  }

  // Receives each encoded frame instead of the clients when set (benchmarks,
  // fuzzing, tests); set before any thread starts, read-only afterwards.
  std::function<void(std::span<const uint8_t> frame)> sink;

 private:
  // What the GUI thread shares with the senders about one client.
  struct ClientQueue {
    GuiClient id = all_gui_clients;
    Outbound out;
    bool overflowed = false;  // a frame did not fit: the GUI thread drops the client
  };
  // The GUI thread's view of one client at the top of a round.
  struct ClientState {
    size_t unsent = 0;
    bool overflowed = false;
  };
  struct Connection;

  // The GUI thread's steps; each takes the lock for the shared part only.
  [[nodiscard]] bool begin_round(std::vector<Connection>& connections,
                                 std::vector<ClientState>& states) EXCLUDES(mutex_);
  [[nodiscard]] std::optional<GuiClient> admit() EXCLUDES(mutex_);
  [[nodiscard]] bool write_to(Connection& c) EXCLUDES(mutex_);
  [[nodiscard]] bool read_from(Connection& c) EXCLUDES(mutex_);
  void end_connection(Connection& c, bool reset) EXCLUDES(mutex_);
  [[nodiscard]] std::string client_name(GuiClient id) const;
  [[nodiscard]] ClientQueue* find(GuiClient id) REQUIRES(mutex_);
  void wake() REQUIRES(mutex_);

  const Console& console_;
  const int max_clients_;
  const Waker waker_;  // made once; each side used by its own threads

  Mutex mutex_;
  std::vector<ClientQueue> clients_ GUARDED_BY(mutex_);
  RequestQueue requests_ GUARDED_BY(mutex_);
  CondVar request_arrived_;
  GuiClient last_client_ GUARDED_BY(mutex_) = all_gui_clients;
  bool wake_pending_ GUARDED_BY(mutex_) = false;  // a byte is on its way to the GUI thread
  bool stopping_ GUARDED_BY(mutex_) = false;

  std::atomic<uint64_t> frames_sent_{0};
  std::atomic<uint64_t> frames_dropped_{0};
};

// Sends `data` as one KISS frame to every client, or to client `to` alone
// (GuiLink::send).
void send_to_gui(GuiLink& link, std::span<const uint8_t> data, GuiClient to = all_gui_clients);

// The data of a text line to the GUI: "P[time stamp] text", the text cut to
// 299 characters and taken as it is (no "%" in it is interpreted).
[[nodiscard]] std::string gui_text_line(std::string_view text);

// Sends gui_text_line(text) to every client, or to client `to` alone.
void gui_text(GuiLink& link, std::string_view text, GuiClient to = all_gui_clients);

}  // namespace kestrelis
