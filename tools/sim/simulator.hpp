#pragma once
// The simulator as a whole: the downlink queue and stream, the satellite's
// store and housekeeping, and the loop that paces the stream and listens for
// the uplink. Log lines go through console_text, one line per event.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/bit_stream.hpp"
#include "sim/options.hpp"
#include "sim/satellite.hpp"
#include "sim/soft_channel.hpp"
#include "sim/telemetry_model.hpp"

namespace kestrelis {

constexpr size_t downlink_queue_limit = 4;  // telemetry waits behind at most this many packets

struct SimCounters {
  uint64_t frames = 0;
  uint64_t telemetry_frames = 0;
  uint64_t uplink_frames = 0;
  uint64_t records_skipped = 0;
};

struct SimState {
  SimOptions options;
  DownlinkStream stream;  // clean with --soft: the soft channel damages it
  SoftChannel soft;
  SimRandom soft_random;  // the soft channel's own, so the stream is the same with or without
  Satellite satellite;
  Housekeeping hk;
  std::deque<SimPacket> queue;  // packets waiting for the stream, first first
  uint64_t records_made = 0;    // picks the next layout and kind
  SimCounters counters;
};

// Prints "[time stamp] message\n" on standard output in one write.
void sim_log(const std::string& message);

// The state at the start, with the orbit's reference at `unix_ms`.
[[nodiscard]] SimState make_sim_state(const SimOptions& options, int64_t unix_ms);

// The next record: the options' layouts in turn, beacons (tlm_type 2) in
// even rounds and telemetry (tlm_type 1) in odd ones, from address 1 to port 8.
[[nodiscard]] SimPacket next_telemetry_packet(SimState& s, int64_t unix_ms);

// Queues the next record unless the queue already holds downlink_queue_limit
// packets (then the record is counted as skipped and a line says so).
void queue_telemetry(SimState& s, int64_t unix_ms);

// Decodes one uplink datagram, logs each frame, lets the satellite act on the
// good ones at `now_ms` and queues its replies.
void handle_uplink_datagram(SimState& s, std::span<const uint8_t> datagram, int64_t now_ms);

// Queues the relays of the stored messages due by `now_ms`.
void queue_due_relays(SimState& s, int64_t now_ms);

// The next `bytes` bytes of the stream, as they go to the TNC: as they are,
// or with --soft through the soft channel, 8 values per byte.
[[nodiscard]] std::vector<uint8_t> next_datagram(SimState& s, size_t bytes);

// Makes the stream hold at least `bytes` finished bytes: queued packets first,
// each as one whole frame behind some noise, then noise. Logs every frame
// (telemetry frames only without --quiet).
void fill_stream(SimState& s, size_t bytes);

// Runs until --duration has passed or a termination signal arrives (the
// caller has blocked them with block_termination_signals). Returns 0, or 1
// when a socket cannot be set up (with a line saying so).
[[nodiscard]] int run_sim(const SimOptions& options);

// The simulator with its arguments; prints help or argument errors. Returns
// the exit status (2 for wrong arguments).
[[nodiscard]] int sim_command(std::span<const std::string_view> args);

}  // namespace kestrelis
