#pragma once
// A command line read one word at a time, as every program of the project
// reads its own: an option, then the value it takes, if any, from the next
// word, or, where a program allows it, from behind a '=' in the same word.
// Which options there are, and what a program says about a wrong one, stay
// with each program.

#include <charconv>
#include <cstddef>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace kestrelis {

struct CommandLine {
  std::vector<std::string_view> words;       // the arguments after the program's name
  size_t next = 0;                           // the word read next
  std::optional<std::string_view> attached;  // the value of a "--name=value" just read
};

// The arguments of main() after the program's name, or `words` as they are.
[[nodiscard]] CommandLine command_line(int argc, char** argv);
[[nodiscard]] CommandLine command_line(std::span<const std::string_view> words);

// The next word; none at the end. With `split_at_equals`, a word
// "--name=value" gives "--name" and keeps "value" for option_value.
[[nodiscard]] std::optional<std::string_view> next_word(CommandLine& line,
                                                        bool split_at_equals = false);

// The value of the option just read: the value behind its '=', else the next
// word, which is used up; none when no word is left.
[[nodiscard]] std::optional<std::string_view> option_value(CommandLine& line);

// `text` as a whole number (integer or real, as T is) from `low` to `high`;
// none for anything else: a sign for an unsigned T, a blank, a character
// left over, or a value out of range.
template <typename T>
[[nodiscard]] std::optional<T> number_in(std::string_view text, T low, T high) {
  T value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  if (!(value >= low && value <= high)) return std::nullopt;  // NaN too
  return value;
}

}  // namespace kestrelis
