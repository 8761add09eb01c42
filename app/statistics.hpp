#pragma once
// The decoder's running totals for the operator: what the receive thread made
// of the modem's bits, and what reached the GUI. Printed on SIGUSR1, every
// StatsInterval seconds and at exit.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "gui/gui_link.hpp"
#include "packet/dispatch.hpp"
#include "packet/packet_check.hpp"

namespace kestrelis {

// PacketAction::unknown_port is the last action.
constexpr size_t packet_action_count = static_cast<size_t>(PacketAction::unknown_port) + 1;

// Written by the receive thread alone, read by any thread at any time; a
// reader may see one total a frame older than another.
struct DecoderStatistics {
  std::atomic<uint64_t> bits_received{0};
  std::atomic<uint64_t> sync_words{0};             // sync words found, true or false
  std::atomic<uint64_t> length_bits_corrected{0};  // robust search: in delivered frames
  std::atomic<uint64_t> codewords_decoded{0};      // Reed-Solomon succeeded
  std::atomic<uint64_t> codewords_failed{0};
  std::atomic<uint64_t> bytes_corrected{0};
  std::atomic<uint64_t> most_bytes_corrected{0};  // in one codeword
  std::atomic<uint64_t> crc_accepted{0};
  std::atomic<uint64_t> crc_tolerated{0};  // accepted with up to 4 wrong CRC bits
  std::atomic<uint64_t> crc_dropped{0};
  std::atomic<uint64_t> packets_too_small{0};  // no room for header and CRC
  // Dispatched packets, by PacketAction.
  std::array<std::atomic<uint64_t>, packet_action_count> packets{};
  // Packets the log did not take (queue full) or could not write; counted by
  // the receive thread and the log's writer thread alike, with fetch_add.
  std::atomic<uint64_t> packets_not_logged{0};
  // Soft input only. A candidate that hard decoding could not deliver but the
  // erasure search did is counted above as that word (decoded, its bytes
  // corrected, its CRC good), not as the hard failure.
  bool soft_input = false;                  // set before the threads start
  std::atomic<uint64_t> erasure_frames{0};  // delivered words that needed erasures
  std::atomic<uint64_t> erasures{0};        // erased bytes of those words, in all
  std::atomic<uint64_t> decodes{0};         // Reed-Solomon decodes, hard and erasure
  std::atomic<uint64_t> frame_decodes{0};   // of those: of candidates that were delivered
};

// One writer per counter, so a plain load and store count without the cost
// of a locked read-modify-write on the receive thread's path.
inline void add_count(std::atomic<uint64_t>& counter, uint64_t n = 1) {
  counter.store(counter.load(std::memory_order_relaxed) + n, std::memory_order_relaxed);
}

// Counts one codeword that Reed-Solomon corrected `corrected` bytes in, or failed on (-1).
inline void count_codeword(DecoderStatistics& s, int corrected) {
  if (corrected < 0) {
    add_count(s.codewords_failed);
    return;
  }
  const auto bytes = static_cast<uint64_t>(corrected);
  add_count(s.codewords_decoded);
  add_count(s.bytes_corrected, bytes);
  if (bytes > s.most_bytes_corrected.load(std::memory_order_relaxed)) {
    s.most_bytes_corrected.store(bytes, std::memory_order_relaxed);
  }
}

inline void count_verdict(DecoderStatistics& s, PacketVerdict v) {
  switch (v) {
    case PacketVerdict::too_small:
      return add_count(s.packets_too_small);
    case PacketVerdict::accepted:
      return add_count(s.crc_accepted);
    case PacketVerdict::crc_tolerated:
      return add_count(s.crc_tolerated);
    case PacketVerdict::crc_dropped:
      return add_count(s.crc_dropped);
  }
}

inline void count_packet(DecoderStatistics& s, PacketAction action) {
  add_count(s.packets[static_cast<size_t>(action)]);
}

// The two console lines (each with its "\n") of the totals, of the GUI
// link's frames sent and dropped for want of a GUI, and of the packets the
// packet log missed; with soft input a third, of the erasure search.
[[nodiscard]] std::vector<std::string> statistics_lines(const DecoderStatistics& s,
                                                        const GuiLink& gui);

}  // namespace kestrelis
