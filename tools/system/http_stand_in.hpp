#pragma once
// A stand-in for a satellite team's server: a tiny HTTP/1.1 server on
// 127.0.0.1 that takes form POSTs, records each one decoded, and answers as
// its mode says, so that the forwarder and its tests meet every kind of server
// without a real one.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/net.hpp"

namespace kestrelis {

enum class StandInMode {
  healthy,       // 200 with a short body
  server_error,  // 500
  silent,        // reads the request, then never answers until the client gives up
  oversized,     // 200 with a body of 1 MiB
  cut_short,     // 200, then the connection closed in the middle of the body
  checking,      // the team database's checks (share_form_problem): 201 with no body,
                 // or 400 with the first failed check as the body's first line
  bad_request,   // 400 with a reason in the body
  moved,         // 301 to the same path with a trailing slash, the query kept
  busy,          // 429 with Retry-After: 1
};

using StandInForm = std::vector<std::pair<std::string, std::string>>;

struct StandInPost {
  std::string target;  // the request target, such as "/api/telemetry?noradID=..."
  std::string path;    // the target up to its query: "/api/telemetry"
  StandInForm query;   // the target's query string decoded; empty when none
  StandInForm form;    // the body decoded; empty when it was no form
  int answered = 0;    // the status sent back; 0 when none was
};

// Decodes application/x-www-form-urlencoded text ('+' is a blank, %XX a
// byte); none when a % escape is broken.
[[nodiscard]] std::optional<StandInForm> decode_form(std::string_view text);

// The value of the first field called `name`, or "" when there is none.
[[nodiscard]] std::string form_value(const StandInForm& form, std::string_view name);

// What the team's database refuses in a posted form and its query string,
// one line naming the field; "" when it would store it. The fields: noradID
// digits; source of 1 to 45 characters; timestamp ISO 8601 (date, 'T',
// time, optional fraction, optional Z or offset); frame hex of even length;
// locator "longLat"; longitude and latitude a decimal number with a point,
// signed or followed by E/W resp. N/S, within 180 resp. 90; version, if
// any, at most 45 characters. A non-empty query must hold the same fields.
[[nodiscard]] std::string share_form_problem(const StandInForm& form, const StandInForm& query);

class HttpStandIn {
 public:
  // Listens on 127.0.0.1:`port` (0: a free port the kernel picks) and serves
  // one connection at a time on a thread of its own. `on_post` runs on that
  // thread after each answer. Check listening() before use.
  explicit HttpStandIn(uint16_t port = 0, StandInMode mode = StandInMode::healthy,
                       std::function<void(const StandInPost&)> on_post = {});
  HttpStandIn(const HttpStandIn&) = delete;
  HttpStandIn& operator=(const HttpStandIn&) = delete;
  ~HttpStandIn();  // stops

  [[nodiscard]] bool listening() const { return port_ != 0; }
  [[nodiscard]] uint16_t port() const { return port_; }
  void set_mode(StandInMode mode);
  // Every POST so far, in the order they came.
  [[nodiscard]] std::vector<StandInPost> posts() const;
  // Closes the port, so that later connections are refused, and ends the thread.
  void stop();

 private:
  void serve();
  void serve_connection(int fd);

  Socket listener_;
  uint16_t port_ = 0;
  std::function<void(const StandInPost&)> on_post_;
  mutable std::mutex mutex_;
  StandInMode mode_;
  std::vector<StandInPost> posts_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace kestrelis
