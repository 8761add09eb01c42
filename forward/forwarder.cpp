#include "forward/forwarder.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <optional>
#include <vector>

#include "archive/packet_log.hpp"
#include "forward/log_position.hpp"
#include "forward/share_form.hpp"
#include "platform/files.hpp"
#include "platform/signals.hpp"

namespace kestrelis {

namespace {

// The most of a log file read at once; a longer "line" is no log line.
constexpr size_t piece_limit = 1 << 20;

struct Forwarder {
  const ForwardConfig& config;
  const ForwardPaths& paths;
  const ForwardOptions& options;
  const Console& console;
  LogPosition position;
  uint64_t sent = 0;
  bool stopping = false;
  bool server_failing = false;
  bool save_failing = false;
  bool read_failing = false;
};

// Waits up to `ms` for a termination signal, remembering one that came.
bool stop_requested(Forwarder& f, int ms) {
  if (!f.stopping && wait_for_termination_signal(ms)) f.stopping = true;
  return f.stopping;
}

std::string duration_text(int ms) {
  return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

// Saved after every packet the server took (or that was skipped), so that a
// restart begins with the next one.
void save_position(Forwarder& f) {
  const int error = replace_file(f.paths.state_file, log_position_text(f.position));
  if (error != 0 && !f.save_failing) {
    console_log(f.console, "Cannot save the position in %s: %s; a restart would send again\n",
                f.paths.state_file.c_str(), error_text(error).c_str());
  } else if (error == 0 && f.save_failing) {
    console_log(f.console, "Position saved in %s again\n", f.paths.state_file.c_str());
  }
  f.save_failing = error != 0;
}

std::string failure_text(const HttpAnswer& answer) {
  switch (answer.failure) {
    case HttpFailure::none:
      return "answered HTTP " + std::to_string(answer.status);
    case HttpFailure::connect:
      return "not reached (" + answer.error + ")";
    case HttpFailure::timeout:
      return "did not answer in time (" + answer.error + ")";
    case HttpFailure::other:
      break;
  }
  return "failed (" + answer.error + ")";
}

// Posts one packet until the server takes it (true) or a signal stops the
// forwarder (false).
bool deliver(Forwarder& f, const LoggedPacket& packet) {
  const std::string form = urlencode_form(share_fields(f.config, packet));
  int wait_ms = f.options.retry_first_ms;
  for (;;) {
    const HttpAnswer answer = http_post_form(f.config.URL, form, f.options.http);
    if (answer.failure == HttpFailure::none && answer.status >= 200 && answer.status < 300) {
      if (f.server_failing) console_log(f.console, "Team server takes packets again\n");
      f.server_failing = false;
      ++f.sent;
      console_log(f.console, "Sent packet of %s, %zu bytes, port %d\n", packet.received.c_str(),
                  packet.frame.size(), packet.port);
      return true;
    }
    f.server_failing = true;
    console_log(f.console, "Team server %s; trying again in %s\n", failure_text(answer).c_str(),
                duration_text(wait_ms).c_str());
    if (stop_requested(f, wait_ms)) return false;
    wait_ms = static_cast<int>(std::min<int64_t>(
        int64_t{wait_ms} * 2, std::max(f.options.retry_max_ms, f.options.retry_first_ms)));
  }
}

// Handles the whole lines of `piece`, read at the current position.
void forward_lines(Forwarder& f, std::string_view piece) {
  const uint64_t base = f.position.offset;
  for (const LogLine& line : whole_lines(piece)) {
    if (stop_requested(f, 0)) return;
    if (line.text.empty()) {  // the line end the TNC writes after a line cut short
      f.position.offset = base + line.end;
      continue;
    }
    std::optional<LoggedPacket> packet = parse_packet_log_line(line.text);
    // A line cut short by a power cut is followed, on the same line, by the
    // first line the TNC wrote after it. Every log line begins with the
    // received member, and that text cannot occur unescaped inside a JSON
    // string, so the whole line after the cut is found by it.
    const size_t resumed = packet ? 0 : line.text.rfind(R"({"received":)");
    if (resumed != 0 && resumed != std::string_view::npos) {
      packet = parse_packet_log_line(line.text.substr(resumed));
    }
    if (!packet) {
      console_log(f.console, "Packet log %s: malformed line at byte %llu skipped\n",
                  f.position.day_file.c_str(), static_cast<unsigned long long>(f.position.offset));
    } else if (resumed != 0) {
      console_log(f.console,
                  "Packet log %s: damaged line at byte %llu; its first %zu bytes "
                  "skipped\n",
                  f.position.day_file.c_str(), static_cast<unsigned long long>(f.position.offset),
                  resumed);
    }
    if (packet && !deliver(f, *packet)) {
      return;
    }
    f.position.offset = base + line.end;
    save_position(f);
  }
}

// Moves on to the day file after the current one, if there is one and the
// current one has not grown since it was read at `size_read` bytes: the TNC
// may write the day's last line and the next day's first one in between. A
// current file that ends without a line end was cut short (a power cut):
// what it holds after the last whole line is skipped with one message.
bool next_day(Forwarder& f, size_t unfinished_bytes, uint64_t size_read) {
  const std::vector<std::string> names = regular_file_names(f.paths.packets_dir);
  const std::optional<std::string> next = next_day_file(names, f.position.day_file);
  if (!next) return false;
  if (!f.position.day_file.empty()) {
    const std::optional<uint64_t> size =
        file_size(f.paths.packets_dir + "/" + f.position.day_file);
    if (size && *size > size_read) return false;
  }
  if (unfinished_bytes > 0) {
    console_log(f.console, "Packet log %s ends in a damaged line at byte %llu; skipped\n",
                f.position.day_file.c_str(), static_cast<unsigned long long>(f.position.offset));
  }
  f.position = {*next, 0};
  save_position(f);
  return true;
}

// No position when there is no state file; `damaged` when there is one that
// cannot be read or parsed.
std::optional<LogPosition> saved_position(const Forwarder& f, bool& damaged) {
  const std::optional<std::string> text = read_whole_file(f.paths.state_file);
  if (!text) {
    damaged = path_exists(f.paths.state_file);
    return std::nullopt;
  }
  std::optional<LogPosition> position = parse_log_position(*text);
  damaged = !position;
  return position;
}

// A saved position lies just after a line end, or at the end of a line cut
// short. When it lies inside a line, the day file lost its end in a power
// cut (the position reaches the disk before the log does) and the TNC has
// written past the position since: the lines from the one that holds the
// position on are new.
void check_line_start(Forwarder& f) {
  constexpr uint64_t window = 1 << 16;
  const uint64_t offset = f.position.offset;
  if (f.position.day_file.empty() || offset == 0) return;
  const uint64_t from = offset > window ? offset - window : 0;
  const FilePart near = read_file_part(f.paths.packets_dir + "/" + f.position.day_file, from,
                                       static_cast<size_t>(offset - from + 1));
  const size_t at = static_cast<size_t>(offset - from);
  // A file missing, unreadable or shorter than the position is the loop's.
  if (near.error != 0 || near.bytes.size() <= at || near.bytes[at - 1] == '\n' ||
      near.bytes[at] == '\n') {
    return;
  }
  const size_t line_end = near.bytes.rfind('\n', at - 1);
  f.position.offset = line_end == std::string::npos ? from : from + line_end + 1;
  console_log(f.console,
              "Packet log %s changed below byte %llu (a power cut?); going on from the line "
              "at byte %llu\n",
              f.position.day_file.c_str(), static_cast<unsigned long long>(offset),
              static_cast<unsigned long long>(f.position.offset));
  save_position(f);
}

}  // namespace

int run_forwarder(const ForwardConfig& config, const ForwardPaths& paths,
                  const ForwardOptions& options, const Console& console) {
  Forwarder f{config, paths, options, console, {}};
  bool damaged = false;
  if (const std::optional<LogPosition> position = saved_position(f, damaged)) {
    f.position = *position;
  } else if (damaged) {
    // Guessing a position would lose packets or send them twice.
    console_log(console,
                "State file %s is damaged or cannot be read; correct it, or remove it to send "
                "the whole packet log again\n",
                paths.state_file.c_str());
    return 1;
  }
  check_line_start(f);
  console_log(console, "Forwarding %s to %s, from %s byte %llu\n", paths.packets_dir.c_str(),
              config.URL.c_str(),
              f.position.day_file.empty() ? "the first log file" : f.position.day_file.c_str(),
              static_cast<unsigned long long>(f.position.offset));
  while (!stop_requested(f, 0)) {
    FilePart part;
    if (!f.position.day_file.empty()) {
      part = read_file_part(paths.packets_dir + "/" + f.position.day_file, f.position.offset,
                            piece_limit);
    }
    // A file that cannot be read is waited for, never passed over; one that
    // was removed is, as there is nothing left to send from it.
    if (part.error != 0 && part.error != ENOENT) {
      if (!f.read_failing) {
        console_log(console, "Packet log %s cannot be read (%s); trying again\n",
                    f.position.day_file.c_str(), error_text(part.error).c_str());
      }
      f.read_failing = true;
      if (options.once || stop_requested(f, options.poll_ms)) break;
      continue;
    }
    if (f.read_failing) console_log(console, "Packet log %s read again\n", f.position.day_file.c_str());
    f.read_failing = false;
    // The TNC's writes reach the disk later than the saved position: after a
    // power cut the file may hold less than was sent. Its next lines follow
    // what it holds.
    if (part.error == 0 && part.size < f.position.offset) {
      console_log(console,
                  "Packet log %s holds %llu bytes, fewer than the %llu already handled; going "
                  "on from its end\n",
                  f.position.day_file.c_str(), static_cast<unsigned long long>(part.size),
                  static_cast<unsigned long long>(f.position.offset));
      f.position.offset = part.size;
      save_position(f);
      continue;
    }
    const std::string& piece = part.bytes;
    const size_t last_line_end = piece.rfind('\n');
    if (last_line_end != std::string::npos) {
      forward_lines(f, std::string_view(piece).substr(0, last_line_end + 1));
      continue;
    }
    if (piece.size() == piece_limit) {
      console_log(f.console, "Packet log %s: line at byte %llu longer than %zu bytes skipped\n",
                  f.position.day_file.c_str(), static_cast<unsigned long long>(f.position.offset),
                  piece_limit);
      f.position.offset += piece.size();
      save_position(f);
      continue;
    }
    if (next_day(f, piece.size(), part.size)) continue;
    if (options.once) {
      if (!piece.empty()) {
        console_log(console, "Packet log %s ends in an unfinished line at byte %llu; not sent\n",
                    f.position.day_file.c_str(),
                    static_cast<unsigned long long>(f.position.offset));
      }
      break;
    }
    (void)stop_requested(f, options.poll_ms);
  }
  console_log(console, "Forwarder stopped: %llu packets sent; next is %s byte %llu\n",
              static_cast<unsigned long long>(f.sent),
              f.position.day_file.empty() ? "the first log file" : f.position.day_file.c_str(),
              static_cast<unsigned long long>(f.position.offset));
  return 0;
}

}  // namespace kestrelis
