// The command line as every program reads it: options, their values from the
// next word or behind a '=', and numbers in a range.

#include "text/command_line.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

namespace kestrelis {

namespace {

// Each word read, and for words that take a value ("-v..."), " = value" or
// " = none" behind it; for others, a value behind '=' left for the program to
// refuse, as " =value left".
std::string read_all(std::vector<std::string_view> words, bool split_at_equals) {
  CommandLine line = command_line(words);
  std::string seen;
  while (const std::optional<std::string_view> word = next_word(line, split_at_equals)) {
    seen += std::string(*word);
    if (word->starts_with("-v")) {
      const std::optional<std::string_view> value = option_value(line);
      seen += value ? " = " + std::string(*value) : std::string(" = none");
    } else if (line.attached) {
      seen += " =" + std::string(*line.attached) + " left";
    }
    seen += "; ";
  }
  return seen;
}

TEST(CommandLine, OptionsAndTheirValues) {
  // The words, whether "--name=value" is split at the '=', what is seen.
  const std::tuple<std::vector<std::string_view>, bool, const char*> cases[] = {
      {{}, false, ""},
      {{"-va", "1", "file", "-vb", "x=y"}, false, "-va = 1; file; -vb = x=y; "},
      {{"-va=1", "-vb", "2", "--flag=on", "x"}, true, "-va = 1; -vb = 2; --flag =on left; x; "},
      {{"-va=", "-vb"}, true, "-va = ; -vb = none; "},
      {{"-va=1", "x"}, false, "-va=1 = x; "},
      {{"file", "-va"}, false, "file; -va = none; "},
  };
  for (const auto& [words, split, seen] : cases) EXPECT_EQ(read_all(words, split), seen);
}

TEST(CommandLine, NumbersInARange) {
  EXPECT_EQ(number_in<uint16_t>("1", 1, 65535), 1);
  EXPECT_EQ(number_in<uint16_t>("65535", 1, 65535), 65535);
  EXPECT_EQ(number_in(std::string_view("0.5"), 0.0, 1.0), 0.5);
  EXPECT_EQ(number_in(std::string_view("1e3"), 0.0, 1e9), 1000.0);
  for (const char* refused : {"", " 1", "+1", "1x", "0", "65536", "-1", "0x10"}) {
    EXPECT_FALSE(number_in<uint16_t>(refused, 1, 65535)) << refused;
  }
  for (const char* refused : {"nan", "inf", "-0.5", "2"}) {
    EXPECT_FALSE(number_in(std::string_view(refused), 0.0, 1.0)) << refused;
  }
}

}  // namespace

}  // namespace kestrelis
