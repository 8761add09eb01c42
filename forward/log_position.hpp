#pragma once
// Where the forwarder stands in the packet log, and how it reads the log's
// files: which day file comes next, which lines of a piece of it are whole.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrelis {

// The next byte to send: the day file ("YYYY-MM-DD.jsonl") and the offset of
// the first line not yet delivered in it. Kept in the state file as
// "YYYY-MM-DD.jsonl OFFSET\n".
struct LogPosition {
  std::string day_file;
  uint64_t offset = 0;
};

[[nodiscard]] std::string log_position_text(const LogPosition& position);

// Reads the state file's text; none when it is not exactly that form (a
// damaged state file is reported by the caller, never guessed at).
[[nodiscard]] std::optional<LogPosition> parse_log_position(std::string_view text);

// The earliest day file name in `names` after `after` ("" for the first of
// all); other names are passed over. None when there is no later one.
[[nodiscard]] std::optional<std::string> next_day_file(std::span<const std::string> names,
                                                       std::string_view after);

// A whole line of a piece of log: its text without the line end, and the
// offset just past its "\n", counted from the start of the piece.
struct LogLine {
  std::string_view text;
  uint64_t end = 0;
};

// The whole lines at the start of `piece`; what follows the last "\n" is an
// unfinished (or damaged) line and is left out.
[[nodiscard]] std::vector<LogLine> whole_lines(std::string_view piece);

}  // namespace kestrelis
