#pragma once
// The TNC's own copies of what it receives: the packet log (every packet that
// passed the CRC, one JSON line each in Kestrelis/packets/YYYY-MM-DD.jsonl)
// and the stream recording (the modem's datagrams in
// Kestrelis/recordings/<UTC start>.rec). Each has a writer thread of its own,
// so the receive thread only queues; what finds the queue full or fails to be
// written is counted, never held.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "archive/archive_writer.hpp"
#include "archive/packet_log.hpp"
#include "config/config.hpp"
#include "console/console_log.hpp"

namespace kestrelis {

constexpr size_t packet_log_queue_bytes = 4 << 20;  // a few thousand lines
constexpr size_t recording_queue_bytes = 16 << 20;  // some minutes of a fast modem
constexpr int archive_drain_ms = 2000;              // at exit, for both together

struct StationArchive {
  std::string packets_folder;
  std::unique_ptr<ArchiveWriter> packet_log;  // null: not logging
  std::string recording_path;
  std::atomic<uint64_t> datagrams_not_recorded{0};
  std::unique_ptr<ArchiveWriter> recording;  // null: not recording
};

// Starts what `config` asks for (PacketLog, StreamRecording) under
// `profile`/Kestrelis; the recording file is created here with its header.
// Packets not logged are counted in `not_logged`. Prints a line naming the
// packet log's folder when logging, one naming the file when recording, and
// one for anything that cannot start; write failures later are reported once
// each (and their end once) through `console`, which must outlive `archive`.
void start_archive(StationArchive& archive, const TncConfig& config,
                   const std::optional<std::string>& profile, const Console& console,
                   std::atomic<uint64_t>& not_logged);

// Receive thread: queues the log line of `entry`, when logging.
void log_packet(StationArchive& archive, const PacketLogEntry& entry);

// Receive thread: queues `datagram`, received at `received_us`, when recording.
void record_datagram(StationArchive& archive, int64_t received_us,
                     std::span<const uint8_t> datagram);

// When the TNC ends before the modem port is open: removes the recording,
// which holds its header only, so that a service restarting a TNC whose port
// is taken does not leave an empty file at each start.
void discard_recording(StationArchive& archive);

// At exit: waits up to archive_drain_ms for both queues, then prints what
// could not be written and the recording's path and size.
void finish_archive(StationArchive& archive, const Console& console);

}  // namespace kestrelis
