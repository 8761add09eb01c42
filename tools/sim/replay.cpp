#include "sim/replay.hpp"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>

#include "archive/recording.hpp"
#include "console/console_log.hpp"
#include "platform/clock.hpp"
#include "platform/files.hpp"
#include "platform/net.hpp"
#include "platform/signals.hpp"
#include "sim/simulator.hpp"

namespace kestrelis {

namespace {

constexpr int64_t ns_per_ms = 1'000'000;
constexpr int64_t signal_check_ms = 100;        // a termination signal ends a wait within this
constexpr size_t signal_check_datagrams = 256;  // ... and a replay without waits within this

std::string speed_text(double speed) {
  return speed > 0 ? format_text("speed %g", speed) : "no waiting (speed max)";
}

// Waits until the monotonic clock reads `due_ns`; false when a termination
// signal came first.
bool wait_until(int64_t due_ns) {
  for (int64_t left_ns = due_ns - monotonic_ns(); left_ns > 0; left_ns = due_ns - monotonic_ns()) {
    const auto wait_ms =
        std::clamp<int64_t>((left_ns + ns_per_ms - 1) / ns_per_ms, 1, signal_check_ms);
    if (wait_for_termination_signal(static_cast<int>(wait_ms))) return false;
  }
  return true;
}

}  // namespace

int run_replay(const SimOptions& o) {
  const std::optional<std::string> file = read_whole_file(o.replay);
  if (!file) {
    sim_log("sim: cannot read " + o.replay);
    return 1;
  }
  const auto bytes = std::span(reinterpret_cast<const uint8_t*>(file->data()), file->size());
  const RecordingRead recording = unpack_recording(bytes);
  if (const std::string problem = recording_problem(recording, o.replay, file->size());
      !problem.empty()) {
    sim_log("sim: " + problem.substr(0, problem.size() - 1));
    if (recording.state == RecordingState::not_a_recording) return 1;
  }
  Socket socket = udp_open();
  if (!socket.valid()) {
    sim_log(format_text("sim: cannot open a UDP socket (error %d)", last_socket_error()));
    return 1;
  }
  const Ipv4Endpoint tnc{*parse_ipv4("127.0.0.1"), o.rx_port};
  const std::vector<RecordedDatagram>& datagrams = recording.datagrams;
  sim_log(format_text("sim: replaying %zu datagrams of %s to UDP 127.0.0.1:%u, %s",
                      datagrams.size(), o.replay.c_str(), o.rx_port, speed_text(o.speed).c_str()));

  const int64_t start_ns = monotonic_ns();
  const int64_t first_us = datagrams.empty() ? 0 : datagrams.front().received_us;
  size_t sent = 0;
  uint64_t bytes_sent = 0;
  int send_error = 0;
  bool stopped = false;
  for (const RecordedDatagram& d : datagrams) {
    if (o.speed > 0) {
      // A clock set back while recording gives an earlier time: sent at once.
      const double offset_ns = static_cast<double>(d.received_us - first_us) * 1000 / o.speed;
      if (!wait_until(start_ns + static_cast<int64_t>(std::max(0.0, offset_ns)))) {
        stopped = true;
        break;
      }
    } else if (sent % signal_check_datagrams == 0 && wait_for_termination_signal(0)) {
      stopped = true;
      break;
    }
    if (const int error = datagram_send(socket.fd(), tnc, d.bytes); error != 0 && send_error == 0) {
      send_error = error;
      sim_log(format_text("sim: sending to UDP 127.0.0.1:%u failed (error %d); going on", o.rx_port,
                          error));
    }
    ++sent;
    bytes_sent += d.bytes.size();
  }
  sim_log(format_text("sim: replay %s: %zu of %zu datagrams, %llu bytes sent in %.1f s",
                      stopped ? "stopped by a signal" : "done", sent, datagrams.size(),
                      static_cast<unsigned long long>(bytes_sent),
                      static_cast<double>(monotonic_ns() - start_ns) / 1e9));
  return 0;
}

}  // namespace kestrelis
