#pragma once
// The TNC's peers as the load tool plays them: a GUI that counts the numbered
// packets it receives, a modem that counts uplink datagrams, and a rigctld
// with fault modes that tracks the PTT state from the commands it received.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/kiss_reader.hpp"
#include "platform/net.hpp"

// Everything the GUI side has seen, shared by every GUI client of a run.
struct GuiTally {
  mutable std::mutex mutex;
  std::vector<uint8_t> counts;  // per sequence number, saturating at 255
  uint64_t packets = 0;         // numbered packets received
  uint64_t broken_packets = 0;  // numbered packets whose size or filler differ
  int64_t last_packet_ns = 0;   // monotonic time of the latest numbered packet
  uint32_t highest_seq = 0;
};

// How many of `first` ... `first + count - 1` arrived not at all, more than
// once, and the first few missing sequence numbers. Those in `lost_by_design`
// (sorted) that did not arrive are counted apart, not as missing.
struct SeqCount {
  uint64_t missing = 0;
  uint64_t duplicated = 0;
  uint64_t lost_by_design = 0;
  std::vector<uint32_t> first_missing;
};
SeqCount count_seqs(const GuiTally& tally, uint32_t first, uint32_t count,
                    std::span<const uint32_t> lost_by_design = {});

// Numbered packets received so far, and when the latest came.
uint64_t tally_packets(const GuiTally& tally, int64_t* last_packet_ns = nullptr);

// A GUI client whose reader thread counts into a tally until it is closed or
// the TNC ends the connection. Frames other than numbered packets are skipped.
struct GuiClient {
  Socket socket;
  std::thread reader;
  std::atomic<bool> stop{false};
};

// Connects to 127.0.0.1:`port` (retrying for up to `timeout_ms`) and starts
// reading into `tally`. False when no connection was made.
bool gui_connect(GuiClient& client, uint16_t port, GuiTally& tally, int timeout_ms);

// Sends `text` as one KISS frame. False when the send failed.
bool gui_send_request(GuiClient& client, std::string_view text);

// Stops the reader and closes the connection.
void gui_disconnect(GuiClient& client);

// Cuts bytes from the TNC's KISS port into frames and counts them into `tally`.
void gui_read_into(KissReader& reader, std::span<const uint8_t> bytes, GuiTally& tally);

// A UDP socket on 127.0.0.1 in the modem's place; a thread counts the uplink
// datagrams.
struct ModemSink {
  Socket socket;
  uint16_t port = 0;
  std::thread thread;
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> datagrams{0};
  std::atomic<int64_t> last_ns{0};
};
bool start_modem_sink(ModemSink& sink);
void stop_modem_sink(ModemSink& sink);

// Waits until the sink has counted more than `count` datagrams. True when it has.
bool wait_for_datagram(const ModemSink& sink, uint64_t count, int timeout_ms);

// How the stand-in rigctld behaves.
enum class RigMode {
  answering,        // reads the command, answers "RPRT 0", acts on it
  refusing,         // reads the command, answers "RPRT -1", does not act
  never_reading,    // accepts and holds the connection, reads nothing
  closed,           // nothing listens: connections are refused
  unresponsive,     // listens with a full accept queue: connects time out
  vanish_after_on,  // as answering, but stops listening right after an on command
};

const char* rig_mode_name(RigMode mode);

// The stand-in rigctld on 127.0.0.1 at a fixed port, in a thread of its own.
// Commands are matched exactly against the configured on and off texts.
struct FakeRig {
  uint16_t port = 0;
  std::string on_command = "T 1";
  std::string off_command = "T 0";
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
};

// Starts the rig on a port the kernel chooses, answering. False on failure.
bool start_fake_rig(FakeRig& rig);
void stop_fake_rig(FakeRig& rig);

// Switches the mode and returns once the rig's thread has applied it.
void set_rig_mode(FakeRig& rig, RigMode mode);
RigMode rig_mode(const FakeRig& rig);

// A snapshot of the rig's counters and PTT state.
struct RigState {
  bool ptt = false;
  int64_t ptt_changed_ns = 0;
  uint64_t connections = 0;
  uint64_t on_commands = 0;
  uint64_t off_commands = 0;
};
RigState rig_state(const FakeRig& rig);

// Waits until the rig has received more than `off_commands` off commands.
bool wait_for_off_command(const FakeRig& rig, uint64_t off_commands, int timeout_ms);

// Asks a real rigctld at 127.0.0.1:`port` for its PTT state ("t"): "0",
// "1", or "" when it does not answer within `timeout_ms`.
std::string query_rigctld_ptt(uint16_t port, int timeout_ms);
