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
#include "platform/files.hpp"

namespace kestrelis {

constexpr size_t packet_log_queue_bytes = 4 << 20;  // a few thousand lines
constexpr size_t recording_queue_bytes = 16 << 20;  // some minutes of a fast modem
constexpr int archive_drain_ms = 2000;              // at exit, for both together

// A recording's free disk space is looked at again after this many bytes or
// this long, whichever comes first.
constexpr uint64_t recording_space_check_bytes = 1 << 20;
constexpr int64_t recording_space_check_ms = 10'000;

struct StationArchive {
  std::string packets_folder;
  std::unique_ptr<ArchiveWriter> packet_log;  // null: not logging
  std::string recording_path;
  std::atomic<uint64_t> datagrams_not_recorded{0};
  std::unique_ptr<ArchiveWriter> recording;  // null: not recording
  const Console* console = nullptr;          // set by start_archive

  // The recording's bounds. It ends for the rest of the run, with a line,
  // when its file would pass recording_limit_bytes (RecordingLimitMB; 0: no
  // limit), or when the disk's free space is too little for the packet log
  // to be safe (too_little_free_to_record); the packet log goes on.
  uint64_t recording_limit_bytes = 0;
  uint64_t recording_bytes = 0;              // receive thread: header and records offered
  std::atomic<bool> recording_ended{false};  // set by either thread, once
  // The disk space query; tests put a disk of their own making in its place.
  std::optional<DiskSpace> (*query_disk_space)(const std::string& folder) = disk_space;
  uint64_t bytes_since_space_check = 0;  // writer thread
  int64_t next_space_check_ms = 0;       // writer thread

  // kestrelis-tnc --decode: every log line goes to this one file at once,
  // neither queued nor into the day files; failures counted in *not_logged.
  std::string decoded_path;
  std::atomic<uint64_t>* not_logged = nullptr;
  int decoded_error = 0;  // the failure reported last (0: none)
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

// For kestrelis-tnc --decode, instead of start_archive: creates the file
// `path`, which must not exist yet, for the log lines. On failure (open with
// EEXIST when it exists) a line says why.
[[nodiscard]] SysResult start_decoded_log(StationArchive& archive, const std::string& path,
                                          const Console& console,
                                          std::atomic<uint64_t>& not_logged);

// Receive thread: queues the log line of `entry`, when logging; with
// start_decoded_log, writes it at once instead (a failure is said once, and
// so is the next write that works).
void log_packet(StationArchive& archive, const PacketLogEntry& entry);

// Receive thread: queues `datagram`, received at `received_us`, when
// recording, until the recording ends at its limit (with a line).
void record_datagram(StationArchive& archive, int64_t received_us,
                     std::span<const uint8_t> datagram);

// When the TNC ends before the modem port is open: removes the recording,
// which holds its header only, so that a service restarting a TNC whose port
// is taken does not leave an empty file at each start.
void discard_recording(StationArchive& archive);

// At exit: waits up to `drain_ms` for both queues, then prints what could not
// be written and the recording's path and size.
void finish_archive(StationArchive& archive, const Console& console,
                    int drain_ms = archive_drain_ms);

}  // namespace kestrelis
