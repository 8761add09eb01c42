#include "support/rigctld_peer.hpp"

#include <array>
#include <iterator>
#include <span>
#include <string_view>

#include "platform/clock.hpp"
#include "platform/net.hpp"
#include "system/load_sockets.hpp"

namespace kestrelis {

namespace {

constexpr int poll_ms = 10;
constexpr int read_timeout_ms = 2000;
constexpr int backlog = 16;

std::span<const uint8_t> bytes_of(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// Everything the peer sends until it ends its sending direction, at most 256
// bytes and `timeout_ms`.
std::string read_to_end(int fd, int timeout_ms) {
  std::string text;
  const int64_t deadline = monotonic_ms() + timeout_ms;
  std::array<uint8_t, 256> buffer{};
  while (text.size() < buffer.size()) {
    const int64_t left = deadline - monotonic_ms();
    if (left <= 0 || !wait_readable(fd, static_cast<int>(left))) break;
    const long n = stream_receive(fd, buffer);
    if (n <= 0) break;
    text.append(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(n));
  }
  return text;
}

// Polls `done` every 5 ms until it holds or `timeout_ms` has passed.
template <typename Done>
bool wait_until(int timeout_ms, Done&& done) {
  const int64_t deadline = monotonic_ms() + timeout_ms;
  while (!done()) {
    if (monotonic_ms() >= deadline) return false;
    sleep_ms(5);
  }
  return true;
}

// Every mode but these serves on one ordinary listener.
bool plain_listener(RigMode mode) {
  return mode != RigMode::closed && mode != RigMode::unresponsive;
}

void apply_rig_mode(FakeRig& rig, RigMode mode, Socket& listener, Socket& filler,
                    std::vector<Socket>& held) {
  held.clear();
  filler.close();
  if (plain_listener(rig.applied) && plain_listener(mode) && listener.valid()) return;
  listener.close();
  if (mode == RigMode::closed) return;
  if (mode == RigMode::unresponsive) {
    // One connection of our own fills an accept queue of length 0; the
    // kernel then drops every further SYN.
    listener = tcp_listen_loopback(rig.port, 0);
    filler = tcp_connect_started(rig.port);
    sleep_ms(50);
    return;
  }
  listener = tcp_listen_loopback(rig.port, backlog);
}

void serve_rig_connection(FakeRig& rig, RigMode mode, Socket peer, std::vector<Socket>& held) {
  RigCommand command{monotonic_ns(), {}};
  {
    std::lock_guard lock(rig.mutex);
    ++rig.connections;
  }
  if (mode == RigMode::never_reading) {
    held.push_back(std::move(peer));
    return;
  }
  command.bytes = read_to_end(peer.fd(), read_timeout_ms);
  const bool refused = mode == RigMode::refusing;
  const std::string_view answer = refused                   ? std::string_view(rig.refusal)
                                  : mode == RigMode::silent ? ""
                                                            : "RPRT 0\n";
  if (mode == RigMode::mute) {
    held.push_back(std::move(peer));
  } else {
    (void)send_all(peer.fd(), bytes_of(answer));
  }
  const bool on = command.bytes == rig.on_command;
  const bool off = command.bytes == rig.off_command;
  std::lock_guard lock(rig.mutex);
  rig.commands.push_back(std::move(command));
  if (on) ++rig.on_commands;
  if (off) ++rig.off_commands;
  if ((on || off) && !refused && rig.ptt != on) {
    rig.ptt = on;
    rig.ptt_changed_ns = monotonic_ns();
  }
  if (on && mode == RigMode::vanish_after_on) rig.wanted = RigMode::closed;
}

void rig_loop(FakeRig& rig, Socket listener) {
  Socket filler;
  std::vector<Socket> held;
  for (;;) {
    RigMode mode;
    {
      std::lock_guard lock(rig.mutex);
      if (rig.stop) break;
      mode = rig.wanted;
      if (mode != rig.applied) {
        apply_rig_mode(rig, mode, listener, filler, held);
        rig.applied = mode;
      }
    }
    if (!listener.valid() || mode == RigMode::unresponsive) {
      sleep_ms(poll_ms);
      continue;
    }
    if (!wait_readable(listener.fd(), poll_ms)) continue;
    Socket peer = tcp_accept(listener.fd());
    if (peer.valid()) serve_rig_connection(rig, mode, std::move(peer), held);
  }
}

}  // namespace

const char* rig_mode_name(RigMode mode) {
  // In the order of RigMode.
  static constexpr const char* names[] = {"answering",
                                          "refusing with RPRT -1",
                                          "never answering",
                                          "never answering, never closing",
                                          "accepting but never reading",
                                          "absent (connection refused)",
                                          "not answering connects (connect times out)",
                                          "vanishing mid-transmission"};
  static_assert(std::size(names) == static_cast<size_t>(RigMode::vanish_after_on) + 1);
  return names[static_cast<size_t>(mode)];
}

bool start_fake_rig(FakeRig& rig, RigMode mode, uint16_t port) {
  // The first listener is opened here: a port the kernel chose is held from the start.
  Socket listener = tcp_listen_loopback(port, backlog);
  if (!listener.valid()) return false;
  rig.port = local_port(listener.fd());
  rig.wanted = rig.applied = RigMode::answering;
  rig.thread = std::thread(
      [&rig, first = std::move(listener)]() mutable { rig_loop(rig, std::move(first)); });
  set_rig_mode(rig, mode);
  return rig_mode(rig) == mode;
}

void stop_fake_rig(FakeRig& rig) {
  {
    std::lock_guard lock(rig.mutex);
    rig.stop = true;
  }
  if (rig.thread.joinable()) rig.thread.join();
}

void set_rig_mode(FakeRig& rig, RigMode mode) {
  {
    std::lock_guard lock(rig.mutex);
    rig.wanted = mode;
  }
  for (int i = 0; i < 500 && rig_mode(rig) != mode; ++i) sleep_ms(2);
}

RigMode rig_mode(const FakeRig& rig) {
  std::lock_guard lock(rig.mutex);
  return rig.applied;
}

RigState rig_state(const FakeRig& rig) {
  std::lock_guard lock(rig.mutex);
  return {rig.ptt, rig.ptt_changed_ns, rig.connections, rig.on_commands, rig.off_commands};
}

std::vector<RigCommand> rig_commands(const FakeRig& rig) {
  std::lock_guard lock(rig.mutex);
  return rig.commands;
}

bool wait_for_rig_commands(const FakeRig& rig, size_t count, int timeout_ms) {
  return wait_until(timeout_ms, [&] { return rig_commands(rig).size() >= count; });
}

bool wait_for_off_command(const FakeRig& rig, uint64_t off_commands, int timeout_ms) {
  return wait_until(timeout_ms, [&] { return rig_state(rig).off_commands > off_commands; });
}

std::string query_rigctld_ptt(uint16_t port, int timeout_ms) {
  NetResult c = tcp_connect("127.0.0.1", std::to_string(port).c_str(), timeout_ms);
  if (!c.status.ok()) return "";
  if (!send_all(c.socket.fd(), bytes_of("t\n")).ok()) return "";
  (void)shutdown_send(c.socket.fd());
  const std::string answer = read_to_end(c.socket.fd(), timeout_ms);
  return answer.substr(0, answer.find('\n'));
}

}  // namespace kestrelis
