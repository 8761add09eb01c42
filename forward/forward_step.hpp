#pragma once
// The forwarder's decisions as values: where to start from a saved position,
// and, at each look at the packet log, what to do next (send a line, skip
// one, wait, move to the next day, go on after a file lost its end). No
// file, clock or console here: the loop in forwarder.cpp reads the files,
// posts, saves and prints what these functions return.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "archive/packet_log.hpp"
#include "forward/log_position.hpp"

namespace kestrelis {

// The most of a day file looked at once; a longer "line" is no log line.
constexpr size_t forward_piece_limit = 1 << 20;

// The UTC day of a day file name ("YYYY-MM-DD.jsonl") as days since
// 1970-01-01; none when the name is not of that form or names a date that
// does not exist (2026-02-30, month 13).
[[nodiscard]] std::optional<int64_t> day_file_day(std::string_view name);

// What to do with a saved position at start.
enum class StartDecision {
  start,              // from `position` as saved
  skip_missing,       // the saved day file is gone: from the start of the next later one
  refuse_impossible,  // the saved day is no date
  refuse_future,      // the saved day is more than one day after today
  refuse_missing,     // the saved day file is gone and no later one exists
};

struct ForwardStart {
  StartDecision decision = StartDecision::start;
  LogPosition position;  // where to start (start, skip_missing); else the saved one
};

// Checks `saved` against the day files of the packet folder (names of any
// kind, the others passed over) and `today` (UTC days since 1970-01-01). A
// refused position is one that would never be reached or never send again.
[[nodiscard]] ForwardStart forward_start(const LogPosition& saved,
                                         std::span<const std::string> day_files, int64_t today);

// A saved position lies just after a line end, or at the end of a line cut
// short. Given the bytes of its day file from `from` (below `offset`) up to
// and including the byte at `offset` (fewer when the file is shorter),
// returns the start of the line that holds `offset` when it lies inside a
// line (the file lost its end in a power cut and the TNC has written past
// the position since); none when the position is where it should be, or the
// file is too short to tell (the step function's case then).
[[nodiscard]] std::optional<uint64_t> line_start_inside(std::string_view near, uint64_t from,
                                                        uint64_t offset);

// The forwarder's memory between looks.
struct ForwardState {
  LogPosition position;       // "" day file: no day file found yet
  bool read_failing = false;  // the day file could not be read at the last look
};

// One look at the log, taken in this order, so that a day file that grew
// after it was read shows in `size_after`: the current day file read from
// the position's offset on (at most forward_piece_limit bytes), then the
// packet folder listed, then the day file's size examined again.
struct ForwardLook {
  int error = 0;                           // of the read: 0, ENOENT (removed) or an errno
  uint64_t size = 0;                       // the day file's size when read
  std::string_view bytes;                  // from the offset on; empty on error
  std::span<const std::string> day_files;  // the folder's file names
  std::optional<uint64_t> size_after;      // none: the file could not be examined
};

enum class ForwardOutcome {
  send,            // post `packet`; once the server took it, keep `state`
  skip_malformed,  // the line at the position is no log line: say so, keep `state`
  skip_long,       // `skipped` bytes without a line end: say so, keep `state`
  pass_line_end,   // the line end written after a cut line: keep `state`, nothing to say
  shrunk,          // the day file holds fewer bytes than handled: say so, go on from its end
  next_day,        // the day file is done: keep `state` (the next one, from its start)
  wait,            // nothing new yet: look again after the poll time
  unreadable,      // the day file cannot be read: look again after the poll time
};

struct ForwardStep {
  ForwardOutcome outcome = ForwardOutcome::wait;
  ForwardState state;   // the state after the step
  LoggedPacket packet;  // send
  std::string line;     // send: the packet's log line, without its line end
  // send: the bytes of a cut line skipped before the packet; next_day: the
  // bytes of the cut last line skipped; skip_long: the bytes skipped; wait:
  // the bytes of an unfinished last line.
  uint64_t skipped = 0;
  bool read_again = false;      // the day file was unreadable at the last look, and is not now
  bool say_unreadable = false;  // unreadable, and it was not at the last look
};

// Decides the next step from `state` and a look at the log. Handles one
// line at a time; the day file after the current one is moved to only when
// the current one has no whole line left and has not grown since it was
// read (the TNC may write the day's last line after the next day's file
// appears).
[[nodiscard]] ForwardStep forward_step(const ForwardState& state, const ForwardLook& look);

}  // namespace kestrelis
