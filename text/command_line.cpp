#include "text/command_line.hpp"

#include <utility>

namespace kestrelis {

CommandLine command_line(int argc, char** argv) {
  CommandLine line;
  for (int i = 1; i < argc; ++i) line.words.emplace_back(argv[i]);
  return line;
}

CommandLine command_line(std::span<const std::string_view> words) {
  CommandLine line;
  line.words.assign(words.begin(), words.end());
  return line;
}

std::optional<std::string_view> next_word(CommandLine& line, bool split_at_equals) {
  line.attached.reset();
  if (line.next >= line.words.size()) return std::nullopt;
  std::string_view word = line.words[line.next++];
  if (const size_t eq = word.find('='); split_at_equals && eq != std::string_view::npos) {
    line.attached = word.substr(eq + 1);
    word = word.substr(0, eq);
  }
  return word;
}

std::optional<std::string_view> option_value(CommandLine& line) {
  if (line.attached) return std::exchange(line.attached, std::nullopt);
  if (line.next >= line.words.size()) return std::nullopt;
  return line.words[line.next++];
}

}  // namespace kestrelis
