#pragma once
// Replaying a stream recording (archive/recording.hpp) to the TNC's receive
// port, with the spacing the datagrams arrived with or faster.

#include <cstdint>

#include "sim/options.hpp"

namespace kestrelis {

// A forward jump in the recorded times longer than replay_longest_gap_us (a
// recording resumed the next day, or a damaged time) is waited as
// replay_shortened_gap_us: the TNC's decoding does not depend on it, and a
// replay must not sit silent for days.
constexpr int64_t replay_longest_gap_us = 10'000'000;
constexpr int64_t replay_shortened_gap_us = 1'000'000;

// Where a replay stands: the recorded time of the datagram sent last and its
// replay time, in µs after the first datagram (before the speed divides it).
struct ReplayClock {
  bool started = false;
  int64_t last_received_us = 0;
  int64_t due_us = 0;
};

struct ReplayStep {
  ReplayClock clock;
  int64_t due_us = 0;            // when to send this datagram, as above
  uint64_t shortened_gap_us = 0;  // the recorded jump that was shortened; 0: none
};

// The replay time of the next datagram, recorded at `received_us`: the one
// before it plus the recorded gap, a gap backwards (a clock set back) as
// none, a longer forward one shortened as above. Any 64-bit times, crafted
// ones included, give a due time in 0 ... INT64_MAX.
[[nodiscard]] ReplayStep next_replay_step(ReplayClock clock, int64_t received_us);

// Sends every datagram of the recording `options.replay` to UDP
// 127.0.0.1:`options.rx_port`, spaced as next_replay_step says divided by
// `options.speed` (0: no waiting at all), until the last one or a termination
// signal (which the caller has blocked). The file is read as it is sent, in
// memory independent of its size, and its header is checked first. A damaged
// file is replayed up to the damage, with one line saying so; each shortened
// gap is said in one line. Returns 0, or 1 when the file cannot be read or is
// no recording, or no socket can be had (with a line saying why).
[[nodiscard]] int run_replay(const SimOptions& options);

}  // namespace kestrelis
