#include "gui/gui_link.hpp"

#include <algorithm>
#include <array>

#include "platform/clock.hpp"
#include "platform/files.hpp"
#include "wire/kiss.hpp"

namespace kestrelis {

namespace {

constexpr size_t text_limit = 299;
constexpr size_t receive_size = 4096;
// A client that sends or reads without pause gets this many system calls a
// round, so that it cannot hold up the others.
constexpr int reads_per_round = 16;
constexpr int writes_per_round = 16;
constexpr size_t write_chunk = 64 * 1024;
// Without a waker, queued frames go out at the next round at the latest.
constexpr int round_ms = 1000;
constexpr int round_without_waker_ms = 20;
// An accept that fails (out of descriptors, say) fails again at once.
constexpr int pause_after_failed_accept_ms = 1000;
// A refused connection is kept open this long after its busy line unless its
// client closes first: a close with unread data from the client would reset
// the connection, and a reset can destroy the line before it is read.
constexpr int refused_linger_ms = 2000;
constexpr size_t refused_kept_limit = 16;
// A GUI that vanished without closing is noticed after 10 + 3 * 5 s.
constexpr int keepalive_idle_s = 10;
constexpr int keepalive_interval_s = 5;
constexpr int keepalive_probes = 3;

struct Refused {
  Socket socket;
  int64_t close_at_ms = 0;
};

std::span<const uint8_t> bytes_of(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// Tells a connection beyond MaxClients why it is not served, then ends its
// sending direction, so that the line arrives ahead of the close.
void refuse(const Console& console, int max_clients, Socket client, std::vector<Refused>& refused) {
  verbose_log(console, 1, "GUI refused: TNC busy (MaxClients = %d)\n", max_clients);
  const std::string line = gui_text_line(
      format_text("TNC busy: MaxClients = %d GUI client(s) connected already. To allow more, raise "
                  "MaxClients (up to %d) under [KISS] in config.ini and restart the TNC.",
                  max_clients, gui_clients_limit));
  // A fresh connection's buffer takes the short line whole.
  (void)set_nonblocking(client.fd());
  (void)send_some(client.fd(), kiss_encode(bytes_of(line)));
  (void)shutdown_send(client.fd());
  if (refused.size() < refused_kept_limit) {
    refused.push_back({std::move(client), monotonic_ms() + refused_linger_ms});
  }
}

// Reads and discards what a refused client sends. False once it has closed.
bool drain_refused(const Refused& r) {
  std::array<uint8_t, 512> buffer{};
  for (int i = 0; i < reads_per_round; ++i) {
    const long n = stream_receive(r.socket.fd(), buffer);
    if (n > 0) continue;
    return n < 0 && would_block(last_socket_error());
  }
  return true;
}

}  // namespace

struct GuiLink::Connection {
  GuiClient id = all_gui_clients;
  Socket socket;
  KissDeframer deframer;
  std::vector<uint8_t> chunk;  // the bytes of the write under way
  bool ended = false;
};

GuiLink::GuiLink(const Console& console, int max_clients)
    : console_(console), max_clients_(max_clients), waker_(open_waker()) {}

GuiLink::ClientQueue* GuiLink::find(GuiClient id) {
  const auto it = std::ranges::find(clients_, id, &ClientQueue::id);
  return it == clients_.end() ? nullptr : &*it;
}

void GuiLink::wake() {
  if (wake_pending_) return;
  wake_pending_ = true;
  wake_waker(waker_.wake.fd());
}

void GuiLink::send(std::span<const uint8_t> data, GuiClient to) {
  const std::vector<uint8_t> frame = kiss_encode(data);
  if (sink) {
    sink(frame);
    frames_sent_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  bool reached = false;
  {
    MutexLock lock(mutex_);
    bool queued = false;
    for (ClientQueue& client : clients_) {
      if (client.overflowed || (to != all_gui_clients && client.id != to)) continue;
      queued = true;
      if (queue_frame(client.out, frame)) {
        reached = true;
      } else {
        client.overflowed = true;
        client.out = {};
      }
    }
    if (queued) wake();
  }
  if (reached) {
    frames_sent_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  frames_dropped_.fetch_add(1, std::memory_order_relaxed);
  console_log(console_, "Cannot send data to GUI (GUI not connected)\n");
}

std::optional<ClientFrame> GuiLink::next_request() {
  MutexLock lock(mutex_);
  for (;;) {
    if (stopping_) return std::nullopt;
    if (std::optional<ClientFrame> request = take_request(requests_)) return request;
    request_arrived_.wait(mutex_);
  }
}

void GuiLink::request_done() {
  MutexLock lock(mutex_);
  kestrelis::request_done(requests_);
}

void GuiLink::stop() {
  {
    MutexLock lock(mutex_);
    stopping_ = true;
    wake();
  }
  request_arrived_.notify_all();
}

std::string GuiLink::client_name(GuiClient id) const {
  return max_clients_ == 1 ? std::string("GUI") : "GUI client " + std::to_string(id);
}

bool GuiLink::begin_round(std::vector<Connection>& connections, std::vector<ClientState>& states) {
  MutexLock lock(mutex_);
  if (stopping_) return false;
  wake_pending_ = false;
  states.assign(connections.size(), ClientState{});
  for (size_t i = 0; i < connections.size(); ++i) {
    if (const ClientQueue* client = find(connections[i].id)) {
      states[i] = {unsent(client->out), client->overflowed};
    }
  }
  return true;
}

std::optional<GuiClient> GuiLink::admit() {
  MutexLock lock(mutex_);
  if (!admit_client(clients_.size(), max_clients_)) return std::nullopt;
  ClientQueue& client = clients_.emplace_back();
  client.id = ++last_client_;
  return client.id;
}

bool GuiLink::write_to(Connection& c) {
  for (int round = 0; round < writes_per_round; ++round) {
    {
      MutexLock lock(mutex_);
      const ClientQueue* client = find(c.id);
      if (client == nullptr || client->overflowed) return true;
      const size_t n = std::min(unsent(client->out), write_chunk);
      if (n == 0) return true;
      const auto first = client->out.bytes.begin() + static_cast<std::ptrdiff_t>(client->out.head);
      c.chunk.assign(first, first + static_cast<std::ptrdiff_t>(n));
    }
    // Outside the lock: a sender never waits for a system call.
    const long sent = send_some(c.socket.fd(), c.chunk);
    if (sent < 0) {
      const int error = last_socket_error();
      console_log(console_, "GUI communicatino failed (Error %d)\n", error);
      verbose_log(console_, 5, "recv failed with error: %d\n", error);
      end_connection(c, true);
      return false;
    }
    {
      MutexLock lock(mutex_);
      if (ClientQueue* client = find(c.id); client != nullptr && !client->overflowed) {
        mark_sent(client->out, static_cast<size_t>(sent));
      }
    }
    if (static_cast<size_t>(sent) < c.chunk.size()) return true;
  }
  return true;
}

bool GuiLink::read_from(Connection& c) {
  std::array<uint8_t, receive_size> received{};
  for (int round = 0; round < reads_per_round; ++round) {
    const long n = stream_receive(c.socket.fd(), received);
    if (n < 0) {
      const int error = last_socket_error();
      if (would_block(error)) return true;
      verbose_log(console_, 5, "recv failed with error: %d\n", error);
      end_connection(c, false);
      return false;
    }
    if (n == 0) {
      if (max_clients_ == 1) verbose_log(console_, 1, "GUI disconnected\n");
      // What was queued for it before it closed still goes, as far as the
      // socket takes it now.
      if (write_to(c)) end_connection(c, false);
      return false;
    }
    for (uint8_t b : std::span(received).first(static_cast<size_t>(n))) {
      const KissStep step = kiss_receive_byte(c.deframer, b);
      switch (step.event) {
        case KissStep::Event::none:
          continue;
        case KissStep::Event::frame_opened:
          verbose_log(console_, 4, "New KISS packet detected\n");
          continue;
        case KissStep::Event::overflowed: {
          const std::string line =
              format_text("KISS frame from GUI longer than %zu bytes dropped", kiss_frame_capacity);
          console_log(console_, "%s\n", line.c_str());
          send(bytes_of(gui_text_line(line)), c.id);
          continue;
        }
        case KissStep::Event::frame_closed:
          verbose_log(console_, 4, "Finished reading KISS packet\n");
          break;
      }
      if (!step.frame) continue;
      bool queued = false;
      {
        MutexLock lock(mutex_);
        queued = request_arrived(requests_, {c.id, {step.frame->begin(), step.frame->end()}});
      }
      if (queued) {
        request_arrived_.notify_one();
      } else {
        console_log(console_, "Request from %s dropped: %zu of its requests are waiting already\n",
                    client_name(c.id).c_str(), gui_waiting_requests_limit);
      }
    }
    if (static_cast<size_t>(n) < received.size()) return true;
  }
  return true;
}

void GuiLink::end_connection(Connection& c, bool reset) {
  size_t dropped = 0;
  size_t left = 0;
  {
    MutexLock lock(mutex_);
    std::erase_if(clients_, [&c](const ClientQueue& client) { return client.id == c.id; });
    dropped = client_left(requests_, c.id);
    left = clients_.size();
  }
  const std::string name = client_name(c.id);
  for (size_t i = 0; i < dropped; ++i) {
    console_log(console_, "Request from %s dropped: the client left before its turn\n",
                name.c_str());
  }
  if (max_clients_ > 1) {
    verbose_log(console_, 1, "GUI disconnected (client %u, %zu of %d connected)\n", c.id, left,
                max_clients_);
  }
  if (reset) {
    // A reset, not a FIN queued behind whatever the client left unread: it
    // learns at once that it was dropped.
    (void)reset_on_close(c.socket.fd());
  } else if (const SysResult shut = shutdown_send(c.socket.fd()); !shut.ok()) {
    verbose_log(console_, 5, "shutdown failed with error: %d\n", shut.error);
  }
  c.socket.close();
  c.ended = true;
}

void GuiLink::serve(int listener_fd) {
  if (const SysResult set = set_nonblocking(listener_fd); !set.ok()) {
    verbose_log(console_, 5, "GUI port: %s\n", error_text(set).c_str());
  }
  const int round_limit_ms = waker_.watch.valid() ? round_ms : round_without_waker_ms;
  std::vector<Connection> connections;
  std::vector<ClientState> states;
  std::vector<Refused> refused;
  std::vector<SocketWait> waits;
  int64_t accept_again_ms = 0;
  while (begin_round(connections, states)) {
    for (size_t i = 0; i < connections.size(); ++i) {
      if (!states[i].overflowed) continue;
      console_log(console_, "%s dropped: more than %zu bytes waited for it to read them\n",
                  client_name(connections[i].id).c_str(), gui_unsent_limit);
      end_connection(connections[i], true);
    }
    const int64_t now_ms = monotonic_ms();
    int64_t wake_at_ms = now_ms + round_limit_ms;
    waits.clear();
    waits.push_back({.fd = waker_.watch.fd(), .want_read = true});
    const bool accepting = now_ms >= accept_again_ms;
    waits.push_back({.fd = accepting ? listener_fd : -1, .want_read = true});
    if (!accepting) wake_at_ms = std::min(wake_at_ms, accept_again_ms);
    for (size_t i = 0; i < connections.size(); ++i) {
      const Connection& c = connections[i];
      waits.push_back({.fd = c.ended ? -1 : c.socket.fd(),
                       .want_read = true,
                       .want_write = states[i].unsent > 0});
    }
    for (const Refused& r : refused) {
      waits.push_back({.fd = r.socket.fd(), .want_read = true});
      wake_at_ms = std::min(wake_at_ms, r.close_at_ms);
    }
    const int timeout_ms = static_cast<int>(std::max<int64_t>(wake_at_ms - now_ms, 0));
    if (wait_sockets(waits, timeout_ms) < 0) {
      verbose_log(console_, 5, "poll failed with error: %d\n", last_socket_error());
      sleep_ms(round_without_waker_ms);
      continue;
    }
    if (waits[0].readable) drain_waker(waker_.watch.fd());
    for (size_t i = 0; i < connections.size(); ++i) {
      Connection& c = connections[i];
      const SocketWait& w = waits[2 + i];
      if (c.ended) continue;
      if (w.writable && !write_to(c)) continue;
      if (w.readable) (void)read_from(c);
    }
    const size_t refused_at = 2 + connections.size();
    const int64_t after_ms = monotonic_ms();
    for (size_t i = 0; i < refused.size(); ++i) {
      Refused& r = refused[i];
      const bool open = !waits[refused_at + i].readable || drain_refused(r);
      if (!open || after_ms >= r.close_at_ms) r.socket.close();
    }
    std::erase_if(refused, [](const Refused& r) { return !r.socket.valid(); });
    std::erase_if(connections, [](const Connection& c) { return c.ended; });
    if (!waits[1].readable) continue;
    // One connection at a time, each read at once: a client that came and
    // went while others were served has left before the next is admitted.
    for (;;) {
      Socket accepted = tcp_accept(listener_fd);
      if (!accepted.valid()) {
        const int error = last_socket_error();
        if (!would_block(error)) {
          verbose_log(console_, 1, "Could not communicate with GUI (Error %d)\n", error);
          accept_again_ms = monotonic_ms() + pause_after_failed_accept_ms;
        }
        break;
      }
      std::optional<GuiClient> id = admit();
      if (!id) {
        // A client that came and went while others were accepted has left
        // before the next one is refused for want of room.
        for (Connection& c : connections) {
          if (!c.ended) (void)read_from(c);
        }
        std::erase_if(connections, [](const Connection& c) { return c.ended; });
        id = admit();
      }
      if (!id) {
        refuse(console_, max_clients_, std::move(accepted), refused);
        continue;
      }
      Connection& c = connections.emplace_back();
      c.id = *id;
      c.socket = std::move(accepted);
      if (const SysResult set = set_nonblocking(c.socket.fd()); !set.ok()) {
        verbose_log(console_, 5, "GUI connection: %s\n", error_text(set).c_str());
      }
      if (const SysResult set =
              keep_alive(c.socket.fd(), keepalive_idle_s, keepalive_interval_s, keepalive_probes);
          !set.ok()) {
        verbose_log(console_, 5, "Cannot watch the GUI connection: %s\n", error_text(set).c_str());
      }
      if (max_clients_ == 1) {
        verbose_log(console_, 1, "GUI connected.\n");
      } else {
        verbose_log(console_, 1, "GUI connected. (client %u, %zu of %d connected)\n", c.id,
                    connections.size(), max_clients_);
      }
      if (!read_from(c)) connections.pop_back();
    }
  }
  MutexLock lock(mutex_);
  clients_.clear();
}

void send_to_gui(GuiLink& link, std::span<const uint8_t> data, GuiClient to) {
  link.send(data, to);
}

std::string gui_text_line(std::string_view text) {
  const std::string stamp = format_timestamp_now();
  text = text.substr(0, text_limit);
  std::string line;
  line.reserve(stamp.size() + text.size() + 4);
  line.append("P[").append(stamp).append("] ").append(text);
  return line;
}

void gui_text(GuiLink& link, std::string_view text, GuiClient to) {
  link.send(bytes_of(gui_text_line(text)), to);
}

}  // namespace kestrelis
