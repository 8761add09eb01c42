#include "sim/simulator.hpp"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <limits>
#include <string>

#include "console/console_log.hpp"
#include "platform/clock.hpp"
#include "platform/net.hpp"
#include "platform/signals.hpp"
#include "sim/replay.hpp"
#include "sim/uplink.hpp"
#include "telemetry/layouts.hpp"
#include "wire/frame.hpp"

namespace kestrelis {

namespace {

constexpr int64_t ns_per_s = 1'000'000'000;
constexpr int64_t ns_per_ms = 1'000'000;
constexpr size_t uplink_buffer_size = 65536;
constexpr int64_t signal_check_ms = 100;  // a termination signal ends the run within this

const Console console;

std::string layout_name(const TelemetryLayout& l) {
  return std::to_string(l.tlm_sat) + "." + std::to_string(l.tlm_version);
}

// Milliseconds from now until `deadline_ns`, rounded up, at most signal_check_ms.
int wait_ms(int64_t deadline_ns) {
  const int64_t left_ns =
      std::clamp<int64_t>(deadline_ns - monotonic_ns(), 0, signal_check_ms * ns_per_ms);
  return static_cast<int>((left_ns + ns_per_ms - 1) / ns_per_ms);
}

std::string rate_text(double bitrate) {
  char text[40];
  std::snprintf(text, sizeof text, "%.0f bit/s", bitrate);
  return bitrate > 0 ? text : "as fast as possible";
}

}  // namespace

void sim_log(const std::string& message) {
  console_text(console, format_text("[%s] %s\n", format_timestamp_now().c_str(), message.c_str()));
}

SimState make_sim_state(const SimOptions& options, int64_t unix_ms) {
  SimState s;
  s.options = options;
  s.stream.random.state = options.seed;
  s.stream.bit_offset = options.bit_offset;
  s.stream.bit_error_rate = options.soft ? 0 : options.ber;
  s.stream.errors = options.errors;
  s.stream.damage_prefix = options.damage_sync;
  if (options.soft) s.soft = make_soft_channel(options.ber, options.soft_tail);
  s.soft_random.state = ~options.seed;
  s.satellite.time_scale = options.time_scale;
  s.hk.seed = options.seed;
  s.hk.start_unix_ms = unix_ms;
  s.hk.record_interval_s = static_cast<uint32_t>(
      std::min(options.interval_s, double{std::numeric_limits<uint8_t>::max()}));
  return s;
}

SimPacket next_telemetry_packet(SimState& s, int64_t unix_ms) {
  const std::vector<size_t>& chosen = s.options.layouts;
  const TelemetryLayout& layout = telemetry_layouts[chosen[s.records_made % chosen.size()]];
  const bool beacon = (s.records_made / chosen.size()) % 2 == 0;
  ++s.records_made;
  s.hk.stored_messages = static_cast<uint32_t>(s.satellite.stored.size());

  SimPacket p;
  p.header = {.source = satellite_address,
              .destination = ground_station_address,
              .destination_port = telemetry_port,
              .source_port = telemetry_port};
  p.payload = make_record(layout, beacon ? beacon_tlm_type : telemetry_tlm_type, s.hk, unix_ms);
  p.what = std::string(beacon ? "Beacon" : "Telemetry") + " " + layout_name(layout) + " (" +
           std::to_string(p.payload.size()) + " bytes)";
  p.telemetry = true;
  ++s.hk.records_sent;
  return p;
}

void queue_telemetry(SimState& s, int64_t unix_ms) {
  SimPacket p = next_telemetry_packet(s, unix_ms);
  if (s.queue.size() >= downlink_queue_limit) {
    ++s.counters.records_skipped;
    sim_log(format_text("downlink: busy, %s skipped", p.what.c_str()));
    return;
  }
  s.queue.push_back(std::move(p));
}

void handle_uplink_datagram(SimState& s, std::span<const uint8_t> datagram, int64_t now_ms) {
  const std::vector<UplinkFrame> frames = decode_uplink_datagram(datagram);
  if (frames.empty()) {
    sim_log(format_text("uplink: %zu bytes, no frame", datagram.size()));
    return;
  }
  for (const UplinkFrame& f : frames) {
    ++s.counters.uplink_frames;
    sim_log(format_text("uplink: %zu bytes: %s", datagram.size(), describe_uplink(f).c_str()));
    if (!uplink_good(f)) continue;
    ++s.hk.uplink_frames;
    SatelliteAction action = satellite_receive(s.satellite, f.header, f.payload, now_ms);
    sim_log(format_text("satellite: %s", action.note.c_str()));
    for (SimPacket& reply : action.replies) s.queue.push_back(std::move(reply));
  }
}

void queue_due_relays(SimState& s, int64_t now_ms) {
  for (SimPacket& relay : satellite_due(s.satellite, now_ms)) {
    sim_log(format_text("satellite: %s due", relay.what.c_str()));
    s.queue.push_back(std::move(relay));
  }
}

void fill_stream(SimState& s, size_t bytes) {
  while (s.stream.packer.bytes.size() < bytes && !s.queue.empty()) {
    const SimPacket p = std::move(s.queue.front());
    s.queue.pop_front();
    const std::vector<uint8_t> frame = build_frame(csp_header_bytes(p.header), p.payload);
    const PlantedFrame planted = append_frame(s.stream, frame);
    ++s.counters.frames;
    if (p.telemetry) ++s.counters.telemetry_frames;
    if (p.telemetry && s.options.quiet) continue;
    if (s.options.soft) {
      sim_log(format_text("downlink: %s, %zu-byte frame at bit phase %d", p.what.c_str(),
                          frame.size(), planted.phase));
    } else {
      sim_log(format_text("downlink: %s, %zu-byte frame at bit phase %d, %d bit errors in %d bytes",
                          p.what.c_str(), frame.size(), planted.phase, planted.bit_errors,
                          planted.byte_errors));
    }
  }
  if (s.stream.packer.bytes.size() < bytes) {
    append_idle(s.stream, (bytes - s.stream.packer.bytes.size()) * 8 -
                              static_cast<size_t>(s.stream.packer.count));
  }
}

std::vector<uint8_t> next_datagram(SimState& s, size_t bytes) {
  fill_stream(s, bytes);
  std::vector<uint8_t> stream = take_stream_bytes(s.stream, bytes);
  if (!s.options.soft) return stream;
  std::vector<uint8_t> values;
  append_soft(s.soft_random, s.soft, stream, values);
  return values;
}

int run_sim(const SimOptions& o) {
  NetResult uplink = udp_bind("127.0.0.1", o.tx_port, 0);
  if (!uplink.status.ok()) {
    sim_log(format_text("sim: cannot listen on UDP 127.0.0.1:%u (error %d)", o.tx_port,
                        uplink.status.error));
    return 1;
  }
  Socket downlink = udp_open();
  if (!downlink.valid()) {
    sim_log(format_text("sim: cannot open a UDP socket (error %d)", last_socket_error()));
    return 1;
  }
  const Ipv4Endpoint tnc{*parse_ipv4("127.0.0.1"), o.rx_port};
  SimState s = make_sim_state(o, now_unix_ms());

  std::string layouts;
  for (size_t i : o.layouts) {
    if (!layouts.empty()) layouts += ',';
    layouts += layout_name(telemetry_layouts[i]);
  }
  sim_log(format_text(
      "sim: downlink to UDP 127.0.0.1:%u at %s, %zu-byte datagrams, bit offset %s, BER %g%s, "
      "seed %" PRIu64,
      o.rx_port, rate_text(o.bitrate).c_str(), o.soft ? 8 * o.datagram_size : o.datagram_size,
      o.bit_offset < 0 ? "random" : std::to_string(o.bit_offset).c_str(), o.ber,
      o.soft
          ? format_text(" in soft values (sigma %.3f, tail %g)", s.soft.sigma, o.soft_tail).c_str()
          : "",
      o.seed));
  sim_log(format_text("sim: uplink on UDP 127.0.0.1:%u; telemetry every %g s (%s); time scale %g",
                      o.tx_port, o.interval_s, o.interval_s > 0 ? layouts.c_str() : "none",
                      o.time_scale));

  const int64_t start_ns = monotonic_ns();
  const int64_t end_ns = o.duration_s > 0 ? start_ns + static_cast<int64_t>(o.duration_s * ns_per_s)
                                          : std::numeric_limits<int64_t>::max();
  const auto interval_ns = static_cast<int64_t>(o.interval_s * ns_per_s);
  const double ns_per_bit = o.bitrate > 0 ? ns_per_s / o.bitrate : 0;
  const size_t datagram_bits = o.datagram_size * 8;
  int64_t next_record_ns = start_ns;
  int64_t pace_base_ns = start_ns;  // the stream is due at pace_base_ns + bits * ns_per_bit
  uint64_t pace_base_bits = 0;
  uint64_t bytes_sent = 0;
  int send_error = 0;
  int64_t last_poll_ns = start_ns;
  std::optional<int> stop_signal;
  std::vector<uint8_t> buffer(uplink_buffer_size);

  const auto send_datagram = [&](size_t size) {
    const std::vector<uint8_t> bytes = next_datagram(s, size);
    if (const SysResult sent = datagram_send(downlink.fd(), tnc, bytes);
        !sent.ok() && send_error == 0) {
      send_error = sent.error;
      sim_log(format_text("sim: sending to UDP 127.0.0.1:%u failed (error %d); going on", o.rx_port,
                          sent.error));
    }
    bytes_sent += size;  // of the stream, before any soft values
  };
  const auto due_ns = [&] {
    return pace_base_ns +
           static_cast<int64_t>(
               static_cast<double>(bytes_sent * 8 - pace_base_bits + datagram_bits) * ns_per_bit);
  };

  for (;;) {
    int64_t now = monotonic_ns();
    if (now >= end_ns) break;
    if (interval_ns > 0 && now >= next_record_ns) {
      queue_telemetry(s, now_unix_ms());
      next_record_ns = std::max(next_record_ns + interval_ns, now);
    }
    queue_due_relays(s, now / ns_per_ms);

    int64_t deadline = std::min(end_ns, interval_ns > 0 ? next_record_ns : end_ns);
    if (const std::optional<int64_t> relay_ms = next_due_ms(s.satellite)) {
      deadline = std::min(deadline, *relay_ms * ns_per_ms);
    }
    if (o.bitrate > 0) {
      if (now - due_ns() > ns_per_s) {  // fell far behind (suspended): start the pace afresh
        pace_base_ns = now;
        pace_base_bits = bytes_sent * 8;
      }
      for (int burst = 0; burst < 64 && due_ns() <= now; ++burst) send_datagram(o.datagram_size);
      deadline = std::min(deadline, due_ns());
    } else {
      send_datagram(o.datagram_size);
      if (now - last_poll_ns < ns_per_ms) continue;
      last_poll_ns = now;
      deadline = 0;
    }
    stop_signal = wait_for_termination_signal(0);
    if (stop_signal) break;
    if (wait_readable(uplink.socket.fd(), wait_ms(deadline))) {
      const long n = datagram_receive(uplink.socket.fd(), buffer);
      if (n > 0) {
        const auto size = std::min(static_cast<size_t>(n), buffer.size());
        handle_uplink_datagram(s, std::span(buffer).first(size), monotonic_ms());
      }
    }
  }

  // Let the last frame in the stream complete: the TNC takes a codeword once
  // the byte after it has come.
  append_idle(s.stream, 16);
  while (!s.stream.packer.bytes.empty()) {
    send_datagram(std::min(o.datagram_size, s.stream.packer.bytes.size()));
  }

  const double seconds = static_cast<double>(monotonic_ns() - start_ns) / ns_per_s;
  const std::string reason = stop_signal ? "signal " + std::to_string(*stop_signal) : "duration";
  sim_log(format_text(
      "sim: stopped (%s) after %.1f s: %" PRIu64 " bytes sent (%.0f bit/s), %" PRIu64
      " frames (%" PRIu64 " telemetry, %" PRIu64 " skipped), %" PRIu64 " uplink frames",
      reason.c_str(), seconds, bytes_sent,
      seconds > 0 ? static_cast<double>(bytes_sent) * 8 / seconds : 0.0, s.counters.frames,
      s.counters.telemetry_frames, s.counters.records_skipped, s.counters.uplink_frames));
  return 0;
}

int sim_command(std::span<const std::string_view> args) {
  std::string error;
  const std::optional<SimOptions> options = parse_sim_options(args, error);
  if (!options) {
    console_print(console, "kestrelis-sim: %s\n", error.c_str());
    return 2;
  }
  if (options->help) {
    console_text(console, sim_usage());
    return 0;
  }
  if (options->version) {
    console_text(console, "kestrelis-sim " KESTRELIS_VERSION "\n");
    return 0;
  }
  block_termination_signals();
  return options->replay.empty() ? run_sim(*options) : run_replay(*options);
}

}  // namespace kestrelis
