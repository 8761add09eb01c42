#pragma once
// The TNC's peers as the load tool plays them: a GUI that counts the numbered
// packets it receives and a modem that counts uplink datagrams (rigctld: see
// support/rigctld_peer.hpp).

#include <atomic>
#include <cstdint>
#include <mutex>
#include <span>
#include <string_view>
#include <thread>
#include <vector>

#include "support/loopback_peers.hpp"

namespace kestrelis {

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
  KissClient link;
  std::thread reader;
  std::atomic<bool> stop{false};
};

// Connects to 127.0.0.1:`port` (retrying for up to `timeout_ms`) and starts
// reading into `tally`. False when no connection was made.
[[nodiscard]] bool gui_connect(GuiClient& client, uint16_t port, GuiTally& tally, int timeout_ms);

// Sends `text` as one KISS frame. False when the send failed.
[[nodiscard]] bool gui_send_request(GuiClient& client, std::string_view text);

// Stops the reader and closes the connection.
void gui_disconnect(GuiClient& client);

// A UDP socket on 127.0.0.1 in the modem's place; a thread counts the uplink
// datagrams.
struct ModemSink {
  ModemListener listener;
  std::thread thread;
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> datagrams{0};
  std::atomic<int64_t> last_ns{0};
};
[[nodiscard]] bool start_modem_sink(ModemSink& sink);
void stop_modem_sink(ModemSink& sink);

// Waits until the sink has counted more than `count` datagrams. True when it has.
[[nodiscard]] bool wait_for_datagram(const ModemSink& sink, uint64_t count, int timeout_ms);

}  // namespace kestrelis
