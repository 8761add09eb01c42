#include "load/load_peers.hpp"

#include <algorithm>

#include "gui/kiss.hpp"
#include "load/load_stream.hpp"
#include "platform/clock.hpp"
#include "platform/load_sockets.hpp"

namespace {

constexpr int poll_ms = 20;
constexpr int rig_read_timeout_ms = 2000;
constexpr int rig_backlog = 16;

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

void count_packet(GuiTally& tally, std::span<const uint8_t> data) {
  const std::optional<LoadPacket> packet = read_load_packet(data);
  if (!packet) return;
  ++tally.packets;
  if (!packet->intact) ++tally.broken_packets;
  tally.last_packet_ns = monotonic_ns();
  tally.highest_seq = std::max(tally.highest_seq, packet->seq);
  if (packet->seq >= tally.counts.size()) {
    tally.counts.resize(std::max<size_t>(size_t{packet->seq} * 2, 1 << 16), 0);
  }
  uint8_t& count = tally.counts[packet->seq];
  if (count < 255) ++count;
}

void apply_rig_mode(FakeRig& rig, RigMode mode, Socket& listener, Socket& filler,
                    std::vector<Socket>& held) {
  held.clear();
  listener.close();
  filler.close();
  if (mode == RigMode::closed) return;
  if (mode == RigMode::unresponsive) {
    // One connection of our own fills an accept queue of length 0; the
    // kernel then drops every further SYN.
    listener = tcp_listen_loopback(rig.port, 0);
    filler = tcp_connect_started(rig.port);
    sleep_ms(50);
    return;
  }
  listener = tcp_listen_loopback(rig.port, rig_backlog);
}

void serve_rig_connection(FakeRig& rig, RigMode mode, Socket peer, std::vector<Socket>& held) {
  {
    std::lock_guard lock(rig.mutex);
    ++rig.connections;
  }
  if (mode == RigMode::never_reading) {
    held.push_back(std::move(peer));
    return;
  }
  const std::string command = read_to_end(peer.fd(), rig_read_timeout_ms);
  const bool on = command == rig.on_command;
  const bool off = command == rig.off_command;
  if (!on && !off) return;  // the start-up check sends nothing
  const bool refused = mode == RigMode::refusing;
  (void)send_all(peer.fd(), bytes_of(refused ? "RPRT -1\n" : "RPRT 0\n"));
  std::lock_guard lock(rig.mutex);
  if (on) ++rig.on_commands;
  if (off) ++rig.off_commands;
  if (!refused && rig.ptt != on) {
    rig.ptt = on;
    rig.ptt_changed_ns = monotonic_ns();
  }
  if (on && mode == RigMode::vanish_after_on) rig.wanted = RigMode::closed;
}

void rig_loop(FakeRig& rig) {
  Socket listener;
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
      sleep_ms(poll_ms / 2);
      continue;
    }
    if (!wait_readable(listener.fd(), poll_ms / 2)) continue;
    Socket peer = tcp_accept(listener.fd());
    if (peer.valid()) serve_rig_connection(rig, mode, std::move(peer), held);
  }
}

}  // namespace

SeqCount count_seqs(const GuiTally& tally, uint32_t first, uint32_t count,
                    std::span<const uint32_t> lost_by_design) {
  std::lock_guard lock(tally.mutex);
  SeqCount result;
  for (uint64_t seq = first; seq < uint64_t{first} + count; ++seq) {
    const uint8_t n = seq < tally.counts.size() ? tally.counts[seq] : 0;
    if (n == 0 && std::binary_search(lost_by_design.begin(), lost_by_design.end(), seq)) {
      ++result.lost_by_design;
    } else if (n == 0) {
      ++result.missing;
      if (result.first_missing.size() < 20) result.first_missing.push_back(uint32_t(seq));
    } else if (n > 1) {
      ++result.duplicated;
    }
  }
  return result;
}

uint64_t tally_packets(const GuiTally& tally, int64_t* last_packet_ns) {
  std::lock_guard lock(tally.mutex);
  if (last_packet_ns != nullptr) *last_packet_ns = tally.last_packet_ns;
  return tally.packets;
}

void gui_read_into(KissReader& reader, std::span<const uint8_t> bytes, GuiTally& tally) {
  std::lock_guard lock(tally.mutex);
  kiss_read(reader, bytes, [&](std::span<const uint8_t> data) { count_packet(tally, data); });
}

bool gui_connect(GuiClient& client, uint16_t port, GuiTally& tally, int timeout_ms) {
  const int64_t deadline = monotonic_ms() + timeout_ms;
  const std::string service = std::to_string(port);
  while (!client.socket.valid() && monotonic_ms() < deadline) {
    NetResult r = tcp_connect("127.0.0.1", service.c_str(), 1000);
    if (r.failed_at == NetStep::none) {
      client.socket = std::move(r.socket);
    } else {
      sleep_ms(poll_ms);
    }
  }
  if (!client.socket.valid()) return false;
  client.stop = false;
  client.reader = std::thread([&client, &tally] {
    KissReader reader;
    std::vector<uint8_t> buffer(1 << 16);
    const int fd = client.socket.fd();
    while (!client.stop) {
      if (!wait_readable(fd, poll_ms * 5)) continue;
      const long n = stream_receive(fd, buffer);
      if (n <= 0) break;
      gui_read_into(reader, std::span(buffer).first(static_cast<size_t>(n)), tally);
    }
  });
  return true;
}

bool gui_send_request(GuiClient& client, std::string_view text) {
  return send_all(client.socket.fd(), kiss_encode(bytes_of(text))) == 0;
}

void gui_disconnect(GuiClient& client) {
  client.stop = true;
  if (client.reader.joinable()) client.reader.join();
  client.socket.close();
}

bool start_modem_sink(ModemSink& sink) {
  NetResult bound = udp_bind("127.0.0.1", 0, 0);
  if (bound.failed_at != NetStep::none) return false;
  sink.socket = std::move(bound.socket);
  sink.port = local_port(sink.socket.fd());
  sink.thread = std::thread([&sink] {
    std::vector<uint8_t> buffer(1 << 16);
    while (!sink.stop) {
      if (!wait_readable(sink.socket.fd(), poll_ms * 5)) continue;
      if (datagram_receive(sink.socket.fd(), buffer) < 0) continue;
      sink.last_ns = monotonic_ns();
      ++sink.datagrams;
    }
  });
  return true;
}

void stop_modem_sink(ModemSink& sink) {
  sink.stop = true;
  if (sink.thread.joinable()) sink.thread.join();
  sink.socket.close();
}

bool wait_for_datagram(const ModemSink& sink, uint64_t count, int timeout_ms) {
  const int64_t deadline = monotonic_ms() + timeout_ms;
  while (sink.datagrams <= count) {
    if (monotonic_ms() >= deadline) return false;
    sleep_ms(5);
  }
  return true;
}

const char* rig_mode_name(RigMode mode) {
  switch (mode) {
    case RigMode::answering:
      return "answering";
    case RigMode::refusing:
      return "refusing with RPRT -1";
    case RigMode::never_reading:
      return "accepting but never reading";
    case RigMode::closed:
      return "absent (connection refused)";
    case RigMode::unresponsive:
      return "not answering connects (connect times out)";
    case RigMode::vanish_after_on:
      return "vanishing mid-transmission";
  }
  return "?";
}

bool start_fake_rig(FakeRig& rig) {
  Socket probe = tcp_listen_loopback(0, 1);
  if (!probe.valid()) return false;
  rig.port = local_port(probe.fd());
  probe.close();
  rig.thread = std::thread([&rig] { rig_loop(rig); });
  set_rig_mode(rig, RigMode::answering);
  return rig_mode(rig) == RigMode::answering;
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

bool wait_for_off_command(const FakeRig& rig, uint64_t off_commands, int timeout_ms) {
  const int64_t deadline = monotonic_ms() + timeout_ms;
  while (rig_state(rig).off_commands <= off_commands) {
    if (monotonic_ms() >= deadline) return false;
    sleep_ms(5);
  }
  return true;
}

std::string query_rigctld_ptt(uint16_t port, int timeout_ms) {
  NetResult c = tcp_connect("127.0.0.1", std::to_string(port).c_str(), timeout_ms);
  if (c.failed_at != NetStep::none) return "";
  if (send_all(c.socket.fd(), bytes_of("t\n")) != 0) return "";
  shutdown_send(c.socket.fd());
  const std::string answer = read_to_end(c.socket.fd(), timeout_ms);
  return answer.substr(0, answer.find('\n'));
}
