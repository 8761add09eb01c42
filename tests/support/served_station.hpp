#pragma once
// Test support: a station serving GUI clients on a loopback port, in process.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <thread>

#include "app/station.hpp"
#include "support/loopback_peers.hpp"
#include "support/station_capture.hpp"

namespace kestrelis {

// A station whose GUI link serves a loopback port and whose transmit thread
// takes the requests, its console captured at VerboseLevel 4, its modem a
// listener, CallFrom QQ0ABC, preamble 4.
class ServedStation {
 public:
  ServedStation(int max_clients, int key_up_ms);
  ServedStation(const ServedStation&) = delete;
  ServedStation& operator=(const ServedStation&) = delete;
  ~ServedStation();

  uint16_t port() const { return local_port(listener_.fd()); }
  ModemListener& modem() { return modem_; }
  size_t count(std::string_view text) const { return lines_.count(text); }
  bool wait_for(std::string_view text, size_t n, int timeout_ms) const {
    return lines_.wait_for(text, n, timeout_ms);
  }

 private:
  CapturedLines lines_;
  ModemListener modem_;

 public:
  Station station;

 private:
  Socket listener_;
  std::thread serve_thread_;
  std::thread uplink_thread_;
};

}  // namespace kestrelis
