// The console's line format: the stamp in local time, the cut at 299
// characters, plain texts and the verbose levels.

#include "console/console_log.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <regex>
#include <string>
#include <vector>

namespace kestrelis {

namespace {

TEST(ConsoleLog, StampedLinesCutAt299PlainTextLevelsAndLocalTime) {
  std::vector<std::string> lines;
  Console console{1, [&lines](std::string_view text) { lines.emplace_back(text); }};
  console_log(console, "Received %d bytes\r\n", 41);
  console_log(console, "%s\n", std::string(400, 'm').c_str());
  log_message(console, std::string("Hi\0junk", 7));
  console_print(console, "getaddrinfo failed with error: %d\n", -2);
  console_text(console, "Can't load 'config.ini'\n");
  // Shown when the level is at most VerboseLevel.
  const std::pair<int, int> levels[] = {{1, 1}, {5, 5}, {1, 5}, {0, 1}, {-3, 0}, {4, 5}};
  for (const auto& [verbose, level] : levels) {
    console.verbose_level = verbose;
    verbose_log(console, level, "level %d of %d\n", level, verbose);
  }
  // "[DD/MM hh:mm:ss.mmm] " followed by the message; the line end of a cut
  // message is lost with the rest; a zero byte ends a message as in C.
  const std::regex stamp(R"(^\[\d\d/\d\d \d\d:\d\d:\d\d\.\d\d\d\] )");
  for (std::string& line : lines) line = std::regex_replace(line, stamp, "[TS] ");
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "[TS] Received 41 bytes\r\n", "[TS] " + std::string(299, 'm'), "[TS] Hi",
                       "getaddrinfo failed with error: -2\n", "Can't load 'config.ini'\n",
                       "[TS] level 1 of 1\n", "[TS] level 5 of 5\n"}));
  // The stamp has the day before the month, in local time.
  const char* saved = std::getenv("TZ");
  const std::string saved_tz = saved ? saved : "";
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ(format_timestamp(1769936703, 7), "01/02 09:05:03.007");  // 2026-02-01 09:05:03 UTC
  EXPECT_EQ(format_timestamp(0, 999), "01/01 00:00:00.999");
  setenv("TZ", "CET-1", 1);
  tzset();
  EXPECT_EQ(format_timestamp(1769936703, 42), "01/02 10:05:03.042");
  saved ? setenv("TZ", saved_tz.c_str(), 1) : unsetenv("TZ");
  tzset();
}

}  // namespace

}  // namespace kestrelis
