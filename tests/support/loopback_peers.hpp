#pragma once
// Test support: the peers of the TNC on loopback - a stand-in rigctld that
// records what it is sent, a UDP listener in the modem's place, and a KISS
// client in the GUI's place.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "gui/kiss.hpp"
#include "platform/net.hpp"

// One connection to the stand-in rigctld: the monotonic time it was accepted
// and every byte it carried until the TNC ended its sending direction.
struct RigCommand {
  int64_t accepted_ns = 0;
  std::string bytes;
};

// Listens on 127.0.0.1:`port` (0: chosen by the kernel) in a thread of its
// own; answers each command with `answer` (nothing when empty) and closes.
class FakeRigctld {
 public:
  explicit FakeRigctld(std::string answer = "RPRT 0\n", uint16_t port = 0);
  ~FakeRigctld();
  uint16_t port() const { return port_; }
  std::vector<RigCommand> commands() const;
  // True once `count` commands have arrived, false after `timeout_ms`.
  bool wait_for_commands(size_t count, int timeout_ms) const;

 private:
  void serve();
  std::string answer_;
  Socket listener_;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<RigCommand> commands_;
  std::thread thread_;
};

struct Datagram {
  int64_t arrived_ns = 0;
  std::vector<uint8_t> bytes;
};

// A UDP socket on 127.0.0.1 that plays the modem.
class ModemListener {
 public:
  ModemListener();
  uint16_t port() const { return port_; }
  std::optional<Datagram> receive(int timeout_ms);

 private:
  Socket socket_;
  uint16_t port_ = 0;
};

// A GUI connected to the TNC's KISS port.
class KissClient {
 public:
  // Connects to 127.0.0.1:`port`, retrying until `timeout_ms` has passed.
  KissClient(uint16_t port, int timeout_ms);
  bool connected() const { return socket_.valid(); }
  int fd() const { return socket_.fd(); }
  void send_frame(std::string_view data);
  void send_raw(std::span<const uint8_t> bytes);
  void close() { socket_.close(); }

 private:
  Socket socket_;
};

// The INI text of a TNC with every port given, preamble 50, postamble 20.
std::string tnc_config_text(uint16_t kiss_port, uint16_t modem_port, uint16_t rig_port,
                            int key_up_ms, int key_down_ms);
