#pragma once
// Replaying a stream recording (archive/recording.hpp) to the TNC's receive
// port, with the spacing the datagrams arrived with or faster.

#include "sim/options.hpp"

namespace kestrelis {

// Sends every datagram of the recording `options.replay` to UDP
// 127.0.0.1:`options.rx_port`, spaced as they were received divided by
// `options.speed` (0: no waiting at all), until the last one or a termination
// signal (which the caller has blocked). A damaged file is replayed up to the
// damage, with one line saying so. Returns 0, or 1 when the file cannot be
// read or is no recording, or no socket can be had (with a line saying why).
[[nodiscard]] int run_replay(const SimOptions& options);

}  // namespace kestrelis
