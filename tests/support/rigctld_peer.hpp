#pragma once
// rigctld as the TNC's peer: a stand-in with fault modes that keeps what it
// was sent and tracks the PTT state from it, for the load tool and the tests;
// and the PTT query of a real rigctld.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kestrelis {

// How the stand-in behaves.
enum class RigMode {
  answering,        // reads the command, answers "RPRT 0", acts on it
  refusing,         // reads the command, answers with `refusal`, does not act
  silent,           // reads the command, closes without an answer, acts on it
  mute,             // reads the command, acts on it, holds the connection without an answer
  never_reading,    // accepts and holds the connection, reads nothing
  closed,           // nothing listens: connections are refused
  unresponsive,     // listens with a full accept queue: connects time out
  vanish_after_on,  // as answering, but stops listening right after an on command
};

[[nodiscard]] const char* rig_mode_name(RigMode mode);

// One connection that the stand-in read: the monotonic time it was accepted
// and every byte it carried until the TNC ended its sending direction.
struct RigCommand {
  int64_t accepted_ns = 0;
  std::string bytes;
};

// The stand-in on 127.0.0.1 at a fixed port, in a thread of its own. Every
// connection it reads is answered (but in silent and mute mode) and kept; those that
// carry exactly the on or off text are counted and move the PTT state.
struct FakeRig {
  uint16_t port = 0;
  std::string on_command = "T 1";
  std::string off_command = "T 0";
  std::string refusal = "RPRT -1\n";
  std::thread thread;
  mutable std::mutex mutex;
  RigMode wanted = RigMode::answering;
  RigMode applied = RigMode::closed;
  bool stop = false;
  bool ptt = false;            // the transmitter as the received commands left it
  int64_t ptt_changed_ns = 0;  // monotonic time of the last change
  uint64_t connections = 0;
  uint64_t on_commands = 0;  // received in full, whatever the answer
  uint64_t off_commands = 0;
  std::vector<RigCommand> commands;
};

// Starts the rig in `mode` on `port` (0: one the kernel chooses). False when
// it cannot listen there.
[[nodiscard]] bool start_fake_rig(FakeRig& rig, RigMode mode = RigMode::answering,
                                  uint16_t port = 0);
void stop_fake_rig(FakeRig& rig);

// Switches the mode and returns once the rig's thread has applied it.
void set_rig_mode(FakeRig& rig, RigMode mode);
[[nodiscard]] RigMode rig_mode(const FakeRig& rig);

// A snapshot of the rig's counters and PTT state.
struct RigState {
  bool ptt = false;
  int64_t ptt_changed_ns = 0;
  uint64_t connections = 0;
  uint64_t on_commands = 0;
  uint64_t off_commands = 0;
};
[[nodiscard]] RigState rig_state(const FakeRig& rig);

[[nodiscard]] std::vector<RigCommand> rig_commands(const FakeRig& rig);

// Waits until the rig has kept `count` commands. True when it has.
[[nodiscard]] bool wait_for_rig_commands(const FakeRig& rig, size_t count, int timeout_ms);

// Waits until the rig has received more than `off_commands` off commands.
[[nodiscard]] bool wait_for_off_command(const FakeRig& rig, uint64_t off_commands, int timeout_ms);

// Asks a real rigctld at 127.0.0.1:`port` for its PTT state ("t"): "0",
// "1", or "" when it does not answer within `timeout_ms`.
[[nodiscard]] std::string query_rigctld_ptt(uint16_t port, int timeout_ms);

}  // namespace kestrelis
