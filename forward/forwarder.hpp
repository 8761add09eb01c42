#pragma once
// The forwarder's loop: follows the packet log from its saved position and
// posts each packet to the team server, saving the position after each one
// the server took or refused for good. Delivery is at least once: a restart
// loses no packet, but one whose post was under way when the forwarder was
// killed (or whose answer was lost) is posted again.

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
  int give_up_s = 300;         // with `once`: end when the server fails this long
  HttpLimits http;
};

struct ForwardPaths {
  std::string packets_dir;   // the packet log's folder (Kestrelis/packets)
  std::string state_file;    // the saved position (Kestrelis/forward.state)
  std::string rejects_file;  // packets the server refused (Kestrelis/forward-rejected.jsonl)
  // "": the day files of packets_dir; else only packets_dir/file_name, with
  // its byte offset alone ("8858\n") in state_file.
  std::string file_name = {};
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
// Each answer is handled as post_decision says: a packet refused for good
// (400, 422, ...) is appended to `rejects_file` with the status and the
// server's reason, shown on the console, and passed; a redirect, 401, 403,
// 404 or 405 stops the forwarder with a line (the packet stays next); other
// failures are posted again after the back-off or the server's Retry-After.
// Returns the exit status: 0; 1 when the state file was refused, the server's
// answer says the settings are wrong, or a refused packet could not be set
// aside; 3 when, with `once`, the server failed for `give_up_s` seconds.
[[nodiscard]] int run_forwarder(const ForwardConfig& config, const ForwardPaths& paths,
                                const ForwardOptions& options, const Console& console);

}  // namespace kestrelis
