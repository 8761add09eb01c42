#pragma once
// The forwarder's loop: follows the packet log from its saved position and
// posts each packet to the team server, saving the position after each one
// the server took, so that a restart neither loses nor repeats a packet.

#include <string>

#include "console/console_log.hpp"
#include "forward/forward_config.hpp"
#include "platform/http_client.hpp"

namespace kestrelis {

struct ForwardOptions {
  bool once = false;           // send what the log holds, then end
  int poll_ms = 1000;          // wait between looks at a log with nothing new
  int retry_first_ms = 1000;   // first wait after a failed post; doubles each time
  int retry_max_ms = 300'000;  // longest wait between posts of one packet
  HttpLimits http;
};

struct ForwardPaths {
  std::string packets_dir;  // the packet log's folder (Kestrelis/packets)
  std::string state_file;   // the saved position (Kestrelis/forward.state)
};

// Runs until a termination signal arrives (the caller has blocked them) or,
// with `once`, until every whole line of the log has been handled. A post in
// progress when the signal comes ends within its time-out, and its position
// is saved when the server took it. Malformed lines are skipped, an
// unfinished last line of a finished day is skipped, each with one console
// line; a day file that cannot be read is waited for, one shorter than the
// saved position is gone on with from its end. A state file is refused at
// start, with a line saying what to do, when it is damaged or cannot be read,
// names a date that does not exist or a day more than one day after today
// (UTC), or names a day file that is gone with no later one; with a later
// one, the forwarder starts at that one's beginning and says what it skipped.
// Returns the exit status: 0, or 1 when the state file was refused.
[[nodiscard]] int run_forwarder(const ForwardConfig& config, const ForwardPaths& paths,
                                const ForwardOptions& options, const Console& console);

}  // namespace kestrelis
