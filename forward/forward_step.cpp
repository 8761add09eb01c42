#include "forward/forward_step.hpp"

#include <cerrno>

#include "text/calendar.hpp"

namespace kestrelis {

namespace {

int64_t digits_value(std::string_view digits) {
  int64_t value = 0;
  for (const char c : digits) value = value * 10 + (c - '0');
  return value;
}

bool contains(std::span<const std::string> names, std::string_view name) {
  for (const std::string& n : names) {
    if (n == name) return true;
  }
  return false;
}

// The step for the first whole line of `bytes`, which ends at `line_end`.
ForwardStep line_step(ForwardStep step, std::string_view bytes, size_t line_end) {
  const std::string_view line = bytes.substr(0, line_end);
  const uint64_t at = step.state.position.offset;
  step.state.position.offset = at + line_end + 1;
  if (line.empty()) {  // the line end the TNC writes after a line cut short
    step.outcome = ForwardOutcome::pass_line_end;
    return step;
  }
  std::optional<LoggedPacket> packet = parse_packet_log_line(line);
  // A line cut short by a power cut is followed, on the same line, by the
  // first line the TNC wrote after it. Every log line begins with the
  // received member, and that text cannot occur unescaped inside a JSON
  // string, so the whole line after the cut is found by it.
  const size_t resumed = packet ? 0 : line.rfind(R"({"received":)");
  if (resumed != 0 && resumed != std::string_view::npos) {
    packet = parse_packet_log_line(line.substr(resumed));
  }
  if (!packet) {
    step.outcome = ForwardOutcome::skip_malformed;
    return step;
  }
  step.outcome = ForwardOutcome::send;
  step.packet = std::move(*packet);
  step.line = line.substr(resumed);
  step.skipped = resumed;
  return step;
}

}  // namespace

std::optional<int64_t> day_file_day(std::string_view name) {
  if (!is_packet_log_file_name(name)) return std::nullopt;
  const int64_t year = digits_value(name.substr(0, 4));
  const int64_t month = digits_value(name.substr(5, 2));
  const int64_t day = digits_value(name.substr(8, 2));
  if (month < 1 || month > 12 || day < 1 || day > days_in_month(year, month)) {
    return std::nullopt;
  }
  return days_from_civil(year, month, day);
}

ForwardStart forward_start(const LogPosition& saved, std::span<const std::string> day_files,
                           int64_t today) {
  const std::optional<int64_t> day = day_file_day(saved.day_file);
  if (!day) return {StartDecision::refuse_impossible, saved};
  // One day ahead is a clock a little ahead of this one near midnight.
  if (*day > today + 1) return {StartDecision::refuse_future, saved};
  if (contains(day_files, saved.day_file)) return {StartDecision::start, saved};
  if (const std::optional<std::string> later = next_day_file(day_files, saved.day_file)) {
    return {StartDecision::skip_missing, {*later, 0}};
  }
  return {StartDecision::refuse_missing, saved};
}

std::optional<uint64_t> line_start_inside(std::string_view near, uint64_t from, uint64_t offset) {
  if (offset <= from) return std::nullopt;  // the byte before the offset is not in `near`
  const uint64_t at = offset - from;
  if (near.size() <= at || near[at - 1] == '\n' || near[at] == '\n') {
    return std::nullopt;
  }
  const size_t line_end = near.rfind('\n', at - 1);
  return line_end == std::string_view::npos ? from : from + line_end + 1;
}

ForwardStep forward_step(const ForwardState& state, const ForwardLook& look) {
  ForwardStep step;
  step.state = state;
  const LogPosition& position = state.position;
  if (!position.day_file.empty()) {
    // A file that cannot be read is waited for, never passed over; one that
    // was removed is, as there is nothing left to send from it.
    if (look.error != 0 && look.error != ENOENT) {
      step.outcome = ForwardOutcome::unreadable;
      step.say_unreadable = !state.read_failing;
      step.state.read_failing = true;
      return step;
    }
    step.read_again = state.read_failing;
    step.state.read_failing = false;
    // The TNC's writes reach the disk later than the saved position: after a
    // power cut the file may hold less than was sent. Its next lines follow
    // what it holds.
    if (look.error == 0 && look.size < position.offset) {
      step.outcome = ForwardOutcome::shrunk;
      step.state.position.offset = look.size;
      return step;
    }
    if (const size_t line_end = look.bytes.find('\n'); line_end != std::string_view::npos) {
      return line_step(std::move(step), look.bytes, line_end);
    }
    if (look.bytes.size() >= forward_piece_limit) {
      step.outcome = ForwardOutcome::skip_long;
      step.skipped = look.bytes.size();
      step.state.position.offset += look.bytes.size();
      return step;
    }
  }
  const std::optional<std::string> next = next_day_file(look.day_files, position.day_file);
  // The TNC may write the day's last line after the next day's file appeared:
  // a day file that grew after it was read is read again first.
  const bool grown = look.size_after && *look.size_after > look.size;
  if (!next || grown) {
    step.outcome = ForwardOutcome::wait;
    step.skipped = look.bytes.size();
    return step;
  }
  step.outcome = ForwardOutcome::next_day;
  step.skipped = look.bytes.size();
  step.state.position = {*next, 0};
  return step;
}

}  // namespace kestrelis
