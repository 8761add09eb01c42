#include "forward/log_position.hpp"

#include <charconv>

#include "archive/packet_log.hpp"

namespace kestrelis {

std::string log_position_text(const LogPosition& position) {
  return position.day_file + " " + std::to_string(position.offset) + "\n";
}

std::optional<LogPosition> parse_log_position(std::string_view text) {
  if (text.empty() || text.back() != '\n') return std::nullopt;
  text.remove_suffix(1);
  const size_t space = text.find(' ');
  if (space == std::string_view::npos || !is_packet_log_file_name(text.substr(0, space))) {
    return std::nullopt;
  }
  const std::string_view number = text.substr(space + 1);
  LogPosition position{std::string(text.substr(0, space))};
  const auto [end, error] =
      std::from_chars(number.data(), number.data() + number.size(), position.offset);
  if (number.empty() || error != std::errc() || end != number.data() + number.size()) {
    return std::nullopt;
  }
  return position;
}

std::optional<std::string> next_day_file(std::span<const std::string> names,
                                         std::string_view after) {
  std::optional<std::string> next;
  for (const std::string& name : names) {
    // The names sort as their days do, so text order is calendar order.
    if (is_packet_log_file_name(name) && name > after && (!next || name < *next)) next = name;
  }
  return next;
}

std::vector<LogLine> whole_lines(std::string_view piece) {
  std::vector<LogLine> lines;
  size_t start = 0;
  for (size_t end; (end = piece.find('\n', start)) != std::string_view::npos; start = end + 1) {
    lines.push_back({piece.substr(start, end - start), end + 1});
  }
  return lines;
}

}  // namespace kestrelis
