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
};

using StandInForm = std::vector<std::pair<std::string, std::string>>;

struct StandInPost {
  std::string target;  // the request target, such as "/api/telemetry"
  StandInForm form;    // the body decoded; empty when it was no form
  int answered = 0;    // the status sent back; 0 when none was
};

// Decodes application/x-www-form-urlencoded text ('+' is a blank, %XX a
// byte); none when a % escape is broken.
[[nodiscard]] std::optional<StandInForm> decode_form(std::string_view text);

// The value of the first field called `name`, or "" when there is none.
[[nodiscard]] std::string form_value(const StandInForm& form, std::string_view name);

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
