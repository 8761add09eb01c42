#include "app/station_archive.hpp"

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <utility>

#include "archive/recording.hpp"
#include "config/profile_paths.hpp"
#include "platform/clock.hpp"
#include "platform/files.hpp"

namespace kestrelis {

namespace {

// A second start within the same second gets "-1", "-2" ...: never an old file.
constexpr int recording_name_attempts = 100;

// Reports the first failure of a run of them, and the write that ends it.
ArchiveReport reporter(const Console& console, const char* what) {
  return [&console, what](const ArchiveItem& item, const ArchiveWritten& outcome) {
    if (outcome.copy_ended) return;
    if (!outcome.status.ok()) {
      console_log(console, "%s: cannot write %s (%s); retrying with the next one\n", what,
                  item.path.c_str(), append_error_text(outcome.status.error).c_str());
    } else {
      console_log(console, "%s: writing %s again\n", what, item.path.c_str());
    }
  };
}

// One log line, whole or not at all; a missing folder (never made, or
// removed since) is made again.
ArchiveWritten write_log_line(const std::string& folder, const ArchiveItem& item) {
  SysResult written = append_whole(item.path, item.bytes, AppendKind::log_line);
  if (written.error == ENOENT && make_directories(folder).ok()) {
    written = append_whole(item.path, item.bytes, AppendKind::log_line);
  }
  return {written};
}

// A thread that cannot be started (out of threads or memory) leaves that
// copy off, and the TNC runs on without it.
std::unique_ptr<ArchiveWriter> start_writer(size_t capacity, ArchiveWrite write,
                                            std::atomic<uint64_t>& lost, const Console& console,
                                            const char* what) {
  try {
    return std::make_unique<ArchiveWriter>(capacity, std::move(write), reporter(console, what),
                                           lost);
  } catch (const std::system_error& error) {
    console_log(console, "%s: cannot start its writer thread (%s); not writing\n", what,
                error.code().message().c_str());
    return nullptr;
  }
}

constexpr uint64_t mib = 1 << 20;

// True, after the line saying so, when the disk of `folder` has too little
// free for a recording; a disk that cannot be examined counts as having room.
bool disk_too_full(const StationArchive& archive, const std::string& folder,
                   const Console& console, const char* outcome) {
  const std::optional<DiskSpace> space = archive.query_disk_space(folder);
  if (!space || !too_little_free_to_record(space->free_bytes, space->total_bytes)) return false;
  console_log(console,
              "Recording: only %llu MiB of %llu MiB free on the disk of %s, less than %llu MiB "
              "(1 GiB or 5 %% of the disk); %s; the packet log goes on\n",
              static_cast<unsigned long long>(space->free_bytes / mib),
              static_cast<unsigned long long>(space->total_bytes / mib), folder.c_str(),
              static_cast<unsigned long long>(
                  std::max(recording_min_free_bytes, space->total_bytes / recording_min_free_share) /
                  mib),
              outcome);
  return true;
}

// The recording's writer: looks at the free space every
// recording_space_check_bytes or recording_space_check_ms, and ends the
// recording when it runs low.
ArchiveWritten write_record(StationArchive& archive, const std::string& folder,
                            const ArchiveItem& item) {
  constexpr ArchiveWritten recording_over = {.status = {}, .copy_ended = true};
  if (archive.recording_ended.load(std::memory_order_relaxed)) return recording_over;
  archive.bytes_since_space_check += item.bytes.size();
  if (archive.bytes_since_space_check >= recording_space_check_bytes ||
      monotonic_ms() >= archive.next_space_check_ms) {
    archive.bytes_since_space_check = 0;
    archive.next_space_check_ms = monotonic_ms() + recording_space_check_ms;
    if (disk_too_full(archive, folder, *archive.console, "recording ended for this run")) {
      archive.recording_ended.store(true, std::memory_order_relaxed);
      return recording_over;
    }
  }
  return {append_whole(item.path, item.bytes, AppendKind::record)};
}

void start_recording(StationArchive& archive, const std::string& folder, const Console& console) {
  if (const SysResult made = make_directories(folder); !made.ok()) {
    console_log(console, "Recording: cannot create %s (%s); not recording\n", folder.c_str(),
                error_text(made).c_str());
    return;
  }
  if (disk_too_full(archive, folder, console, "not recording")) return;
  const int64_t start_ms = now_unix_ms();
  const std::string_view header(reinterpret_cast<const char*>(recording_header.data()),
                                recording_header.size());
  SysResult created = {SysStep::open, EEXIST};
  std::string path;
  for (int attempt = 0; attempt < recording_name_attempts && created.error == EEXIST; ++attempt) {
    path = path_join(folder, recording_file_name(start_ms, attempt));
    created = create_new_file(path, header);
  }
  if (!created.ok()) {
    console_log(console, "Recording: cannot create %s (%s); not recording\n", path.c_str(),
                append_error_text(created.error).c_str());
    return;
  }
  archive.recording_path = path;
  archive.recording_bytes = header.size();
  archive.next_space_check_ms = monotonic_ms() + recording_space_check_ms;
  archive.recording = start_writer(
      recording_queue_bytes,
      [&archive, folder](const ArchiveItem& item) { return write_record(archive, folder, item); },
      archive.datagrams_not_recorded, console, "Recording");
  if (!archive.recording) return;
  console_log(console, "Recording the modem's datagrams to %s\n", path.c_str());
}

}  // namespace

void start_archive(StationArchive& archive, const TncConfig& config,
                   const std::optional<std::string>& profile, const Console& console,
                   std::atomic<uint64_t>& not_logged) {
  archive.console = &console;
  archive.recording_limit_bytes = uint64_t(config.RecordingLimitMB) * mib;
  if (!config.PacketLog && !config.StreamRecording) return;
  if (!profile) {
    console_log(console, "No profile folder: packets are not logged, the stream not recorded\n");
    return;
  }
  const ProfilePaths paths = profile_paths(*profile);
  if (config.PacketLog) {
    archive.packets_folder = paths.packets;
    archive.packet_log = start_writer(
        packet_log_queue_bytes,
        [folder = archive.packets_folder](const ArchiveItem& item) {
          return write_log_line(folder, item);
        },
        not_logged, console, "Packet log");
    // Two TNCs on one profile would log every packet twice: said where, so it shows.
    if (archive.packet_log) {
      console_log(console, "Logging packets to %s\n", archive.packets_folder.c_str());
    }
  }
  if (config.StreamRecording) start_recording(archive, paths.recordings, console);
}

SysResult start_decoded_log(StationArchive& archive, const std::string& path,
                            const Console& console, std::atomic<uint64_t>& not_logged) {
  const SysResult created = create_new_file(path, "");
  if (!created.ok()) {
    console_log(console, "Cannot create %s (%s)\n", path.c_str(),
                created.error == EEXIST ? "it exists already"
                                        : append_error_text(created.error).c_str());
    return created;
  }
  archive.console = &console;
  archive.decoded_path = path;
  archive.not_logged = &not_logged;
  return created;
}

namespace {

// --decode: no thread to wait on, so each line is written before the next
// datagram is read, and none is dropped for want of room in a queue.
void write_decoded_line(StationArchive& archive, const std::string& line) {
  const int error = append_whole(archive.decoded_path, line, AppendKind::log_line).error;
  if (error != 0) archive.not_logged->fetch_add(1, std::memory_order_relaxed);
  if ((error != 0) == (archive.decoded_error != 0)) {
    archive.decoded_error = error;
    return;
  }
  if (error != 0) {
    console_log(*archive.console, "Decoded packets: cannot write %s (%s)\n",
                archive.decoded_path.c_str(), append_error_text(error).c_str());
  } else {
    console_log(*archive.console, "Decoded packets: writing %s again\n",
                archive.decoded_path.c_str());
  }
  archive.decoded_error = error;
}

}  // namespace

void log_packet(StationArchive& archive, const PacketLogEntry& entry) {
  if (!archive.decoded_path.empty()) return write_decoded_line(archive, packet_log_line(entry));
  if (!archive.packet_log) return;
  (void)archive_offer(*archive.packet_log,
                      {path_join(archive.packets_folder, packet_log_file_name(entry.received_ms)),
                       packet_log_line(entry)});
}

void record_datagram(StationArchive& archive, int64_t received_us,
                     std::span<const uint8_t> datagram) {
  if (!archive.recording || archive.recording_ended.load(std::memory_order_relaxed)) return;
  const std::vector<uint8_t> record = pack_recorded_datagram(received_us, datagram);
  const uint64_t limit = archive.recording_limit_bytes;
  if (limit > 0 && record.size() > limit - archive.recording_bytes) {
    archive.recording_ended.store(true, std::memory_order_relaxed);
    console_log(*archive.console,
                "Recording: %s reached RecordingLimitMB = %llu (%llu bytes); recording ended for "
                "this run; the packet log goes on\n",
                archive.recording_path.c_str(), static_cast<unsigned long long>(limit / mib),
                static_cast<unsigned long long>(archive.recording_bytes));
    return;
  }
  archive.recording_bytes += record.size();
  (void)archive_offer(*archive.recording,
                      {archive.recording_path, std::string(record.begin(), record.end())});
}

void discard_recording(StationArchive& archive) {
  // Nothing can have been offered yet: no datagram came before the port.
  if (archive.recording && archive.recording->items_written() == 0) {
    (void)remove_file(archive.recording_path);
  }
}

void finish_archive(StationArchive& archive, const Console& console, int drain_ms) {
  const int64_t deadline_ms = monotonic_ms() + drain_ms;
  const auto left_ms = [&] {
    return static_cast<int>(std::max<int64_t>(0, deadline_ms - monotonic_ms()));
  };
  if (archive.packet_log) {
    if (const size_t left = archive_drain(*archive.packet_log, left_ms()); left > 0) {
      console_log(console, "Packet log: %zu packets still queued at exit, not logged\n", left);
    }
  }
  if (!archive.recording) return;
  (void)archive_drain(*archive.recording, left_ms());
  const unsigned long long lost = archive.datagrams_not_recorded.load();
  console_log(console, "Recording: %s, %llu datagrams, %llu bytes%s\n",
              archive.recording_path.c_str(),
              static_cast<unsigned long long>(archive.recording->items_written()),
              static_cast<unsigned long long>(file_size(archive.recording_path).value_or(0)),
              lost > 0 ? format_text(", %llu datagrams not recorded", lost).c_str() : "");
}

}  // namespace kestrelis
