#include "sim/replay.hpp"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <string>

#include "archive/recording.hpp"
#include "console/console_log.hpp"
#include "platform/clock.hpp"
#include "platform/net.hpp"
#include "platform/signals.hpp"
#include "sim/simulator.hpp"

namespace kestrelis {

namespace {

constexpr int64_t ns_per_ms = 1'000'000;
constexpr int64_t signal_check_ms = 100;        // a termination signal ends a wait within this
constexpr size_t signal_check_datagrams = 256;  // ... and a replay without waits within this
// Far beyond any replay, and far from where adding the start time could overflow.
constexpr double longest_wait_ns = 1e18;

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

ReplayStep next_replay_step(ReplayClock clock, int64_t received_us) {
  ReplayStep step;
  if (clock.started) {
    // In unsigned arithmetic, which cannot overflow: a forward gap is any
    // difference below 2^63, as two's complement times compare.
    const uint64_t gap =
        static_cast<uint64_t>(received_us) - static_cast<uint64_t>(clock.last_received_us);
    const bool forward = received_us > clock.last_received_us;
    uint64_t wait_us = forward ? gap : 0;
    if (wait_us > static_cast<uint64_t>(replay_longest_gap_us)) {
      step.shortened_gap_us = gap;
      wait_us = replay_shortened_gap_us;
    }
    const auto room = static_cast<uint64_t>(std::numeric_limits<int64_t>::max() - clock.due_us);
    clock.due_us += static_cast<int64_t>(std::min(wait_us, room));
  }
  clock.started = true;
  clock.last_received_us = received_us;
  step.clock = clock;
  step.due_us = clock.due_us;
  return step;
}

int run_replay(const SimOptions& o) {
  Socket socket = udp_open();
  if (!socket.valid()) {
    sim_log(format_text("sim: cannot open a UDP socket (error %d)", last_socket_error()));
    return 1;
  }
  const Ipv4Endpoint tnc{*parse_ipv4("127.0.0.1"), o.rx_port};
  int64_t start_ns = monotonic_ns();
  ReplayClock clock;
  uint64_t sent = 0;
  uint64_t bytes_sent = 0;
  int send_error = 0;
  bool stopped = false;
  const auto send = [&](int64_t received_us, std::span<const uint8_t> datagram) {
    if (!clock.started) {
      // Said once the header has been found good.
      sim_log(format_text("sim: replaying %s to UDP 127.0.0.1:%u, %s", o.replay.c_str(),
                          o.rx_port, speed_text(o.speed).c_str()));
      start_ns = monotonic_ns();
    }
    const ReplayStep step = next_replay_step(clock, received_us);
    clock = step.clock;
    if (step.shortened_gap_us > 0) {
      sim_log(format_text("sim: the recorded times jump %.1f s forward after datagram %llu: "
                          "waiting %.0f s instead",
                          static_cast<double>(step.shortened_gap_us) / 1e6,
                          static_cast<unsigned long long>(sent),
                          static_cast<double>(replay_shortened_gap_us) / 1e6));
    }
    if (o.speed > 0) {
      const double offset_ns = static_cast<double>(step.due_us) * 1000 / o.speed;
      if (!wait_until(start_ns + static_cast<int64_t>(std::min(offset_ns, longest_wait_ns)))) {
        stopped = true;
        return false;
      }
    } else if (sent % signal_check_datagrams == 0 && wait_for_termination_signal(0)) {
      stopped = true;
      return false;
    }
    if (const SysResult result = datagram_send(socket.fd(), tnc, datagram);
        !result.ok() && send_error == 0) {
      send_error = result.error;
      sim_log(format_text("sim: sending to UDP 127.0.0.1:%u failed (error %d); going on", o.rx_port,
                          result.error));
    }
    ++sent;
    bytes_sent += datagram.size();
    return true;
  };
  const RecordingSummary read = read_recording(o.replay, send);
  if (const std::string problem = recording_problem(read, o.replay); !problem.empty()) {
    sim_log("sim: " + problem.substr(0, problem.size() - 1));
    if (read.state == RecordingState::not_a_recording) return 1;
  }
  sim_log(format_text("sim: replay %s: %llu datagrams, %llu bytes sent in %.1f s",
                      stopped ? "stopped by a signal" : "done",
                      static_cast<unsigned long long>(sent),
                      static_cast<unsigned long long>(bytes_sent),
                      static_cast<double>(monotonic_ns() - start_ns) / 1e9));
  return 0;
}

}  // namespace kestrelis
