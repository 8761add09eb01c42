#pragma once
// The peers of the TNC on loopback, for the tests and the load tool: a
// stand-in rigctld that records what it is sent, a UDP listener in the
// modem's place, and a KISS client in the GUI's place.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/kiss_frames.hpp"
#include "platform/net.hpp"
#include "support/rigctld_peer.hpp"

namespace kestrelis {

// The stand-in rigctld of support/rigctld_peer.hpp on 127.0.0.1:`port` (0:
// chosen by the kernel), for the life of the object (non-copyable through its thread). It answers
// each command with `answer`: "RPRT 0\n", a refusal such as "RPRT -1\n", or nothing when empty.
class FakeRigctld {
 public:
  explicit FakeRigctld(std::string answer = "RPRT 0\n", uint16_t port = 0);
  explicit FakeRigctld(RigMode mode, uint16_t port = 0);
  ~FakeRigctld() { stop_fake_rig(rig_); }
  // 0 when it could not listen.
  uint16_t port() const { return listening_ ? rig_.port : 0; }
  std::vector<RigCommand> commands() const { return rig_commands(rig_); }
  // True once `count` commands have arrived, false after `timeout_ms`.
  bool wait_for_commands(size_t count, int timeout_ms) const {
    return wait_for_rig_commands(rig_, count, timeout_ms);
  }

 private:
  FakeRig rig_;
  bool listening_ = false;
};

struct Datagram {
  int64_t arrived_ns = 0;
  std::vector<uint8_t> bytes;
};

// A UDP socket on 127.0.0.1 that plays the modem.
class ModemListener {
 public:
  ModemListener();
  // 0 when it could not bind.
  uint16_t port() const { return port_; }
  std::optional<Datagram> receive(int timeout_ms);

 private:
  Socket socket_;
  uint16_t port_ = 0;
};

// A GUI connected to the TNC's KISS port.
class KissClient {
 public:
  KissClient() = default;  // not connected
  // Connects to 127.0.0.1:`port`, trying again every 20 ms until `timeout_ms`
  // has passed; not connected when none was made.
  KissClient(uint16_t port, int timeout_ms);
  bool connected() const { return socket_.valid(); }
  int fd() const { return socket_.fd(); }
  // Sends `data` as one KISS frame, or `bytes` as they are. False when the
  // send failed.
  bool send_frame(std::string_view data);
  bool send_raw(std::span<const uint8_t> bytes);
  void close() { socket_.close(); }

 private:
  Socket socket_;
};

// Reads the KISS frames a TNC sends on a connected socket.
class KissReader {
 public:
  explicit KissReader(int fd) : fd_(fd), deframer_(tnc_frame_capacity) {}
  // The data of the next frame, a text line's "P[time stamp] " removed; none
  // when `timeout_ms` passed first or the TNC closed the connection.
  std::optional<std::string> next(int timeout_ms);
  // True once the TNC closed the connection (or reset it).
  bool closed() const { return closed_; }

 private:
  int fd_;
  KissDeframer deframer_;
  std::vector<std::string> ready_;
  size_t taken_ = 0;
  bool closed_ = false;
};

}  // namespace kestrelis
