#pragma once
// What the forwarder does with the team server's answer to one packet:
// count it delivered, set it aside, stop, post it again after a wait, or
// (with --once) give up. A value and a step function: the loop in
// forwarder.cpp posts, waits, writes and prints what it returns.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/http_client.hpp"

namespace kestrelis {

// The longest Retry-After honoured.
constexpr int retry_after_limit_ms = 3'600'000;

// The most characters of the server's reason kept.
constexpr size_t reason_limit = 200;

struct RetryPolicy {
  int first_ms = 1000;                // first wait after a failed post; doubles each time
  int max_ms = 300'000;               // longest wait between posts of one packet
  std::optional<int64_t> give_up_ms;  // none: never; else give up after failing this long
};

// The tries of one packet so far.
struct PostState {
  int failures = 0;              // failed posts of this packet in a row
  int next_wait_ms = 0;          // the back-off after the next failure; 0: first_ms
  int64_t failing_since_ms = 0;  // monotonic time of the first failure (failures > 0)
};

enum class PostAction {
  delivered,  // 2xx: the server took it; go on with the next packet
  set_aside,  // 400, 422 and the other refusals of this packet alone: write it to
              // the rejects file, go on with the next packet
  stop,       // 3xx, 401, 403, 404, 405: the settings are wrong; stop (status 1)
  retry,      // no answer, 408, 429, 5xx, anything else: post it again after `wait_ms`
  give_up,    // retry, but failing for longer than the give-up time: end (status 3)
};

struct PostDecision {
  PostAction action = PostAction::retry;
  PostState state;  // for the next post of the same packet
  int wait_ms = 0;  // retry: the wait before posting again
};

// Decides from the tries so far (`state`), the answer to the latest post,
// and the monotonic time `now_ms` it came at. A retry waits the back-off
// (first_ms, doubling, at most max_ms), or the server's Retry-After in
// seconds when it gives one (at most an hour); with a give-up time, no wait
// goes past it, and a failure at or after it gives up.
[[nodiscard]] PostDecision post_decision(const PostState& state, const HttpAnswer& answer,
                                         const RetryPolicy& policy, int64_t now_ms);

// A Retry-After value in whole seconds ("120") as ms, at most
// retry_after_limit_ms; none for the date form or anything else.
[[nodiscard]] std::optional<int> retry_after_ms(std::string_view value);

// The first line of an answer's body, at most reason_limit characters of
// UTF-8, blanks around it removed; control characters and bytes that are
// no UTF-8 become '?'.
[[nodiscard]] std::string answer_reason(std::string_view body);

// A redirect's target as the operator should write it in URL: `location`
// without the query string that was posted (`query`), which the server
// copies into its Location.
[[nodiscard]] std::string redirect_target(std::string_view location, std::string_view query);

// The rejects file's line for a set-aside packet: its packet-log line `line`
// (a JSON object) with "http_status" and "reason" added as its last members,
// ending in "\n".
[[nodiscard]] std::string rejected_line(std::string_view line, long status,
                                        std::string_view reason);

}  // namespace kestrelis
