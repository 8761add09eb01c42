#include "console/console_log.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <regex>
#include <string>
#include <vector>

#include "platform/clock.hpp"

namespace kestrelis {

namespace {

// A console whose texts go to `lines`.
Console console_into(std::vector<std::string>& lines, int verbose_level = 1) {
  return {verbose_level, [&lines](std::string_view text) { lines.emplace_back(text); }};
}

TEST(ConsoleLog, StampedLinesCutAt299AndPlainText) {
  std::vector<std::string> lines;
  const Console console = console_into(lines);
  console_log(console, "Received %d bytes\r\n", 41);
  console_log(console, "%s\n", std::string(400, 'm').c_str());
  log_message(console, std::string("Hi\0junk", 7));
  console_print(console, "getaddrinfo failed with error: %d\n", -2);
  console_text(console, "Can't load 'config.ini'\n");
  ASSERT_EQ(lines.size(), 5u);
  // "[DD/MM hh:mm:ss.mmm] " followed by the message; the line end of a cut
  // message is lost with the rest; a zero byte ends a message as in C.
  const std::regex stamped(R"(\[\d\d/\d\d \d\d:\d\d:\d\d\.\d\d\d\] ([\s\S]*))");
  const std::string messages[] = {"Received 41 bytes\r\n", std::string(299, 'm'), "Hi"};
  for (size_t i = 0; i < 3; ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[i], m, stamped)) << lines[i];
    EXPECT_EQ(m[1], messages[i]);
  }
  EXPECT_EQ(lines[3], "getaddrinfo failed with error: -2\n");
  EXPECT_EQ(lines[4], "Can't load 'config.ini'\n");
}

// The stamp's seconds and milliseconds come from one reading: never a second
// behind the clock read just before it, as separate readings of a coarse
// second and a fine millisecond were near a second boundary.
TEST(ConsoleLog, StampLiesBetweenTheClockReadingsAroundIt) {
  for (int i = 0; i < 100'000; ++i) {
    const int64_t before = now_unix_ms() % 60'000;
    const std::string stamp = format_timestamp_now();
    const int64_t after = now_unix_ms() % 60'000;
    const int64_t shown = std::stoll(stamp.substr(12, 2)) * 1000 + std::stoll(stamp.substr(15, 3));
    if (after < before) {  // a minute boundary in between
      ASSERT_TRUE(shown >= before || shown <= after)
          << stamp << " between " << before << ", " << after;
    } else {
      ASSERT_TRUE(shown >= before && shown <= after)
          << stamp << " between " << before << ", " << after;
    }
  }
}

TEST(ConsoleLog, LevelsAgainstVerboseLevel) {
  struct Case {
    int verbose;
    int level;
    bool shown;
  };
  const Case cases[] = {{1, 5, false},  {5, 5, true}, {1, 1, true}, {0, 1, false},
                        {-3, 0, false}, {2, 2, true}, {4, 5, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "VerboseLevel " << c.verbose << " level " << c.level);
    std::vector<std::string> lines;
    verbose_log(console_into(lines, c.verbose), c.level, "x\n");
    EXPECT_EQ(lines.size(), c.shown ? 1u : 0u);
  }
}

TEST(ConsoleLog, TimeStampHasDayBeforeMonthInLocalTime) {
  const char* saved = std::getenv("TZ");
  const std::string saved_tz = saved ? saved : "";
  setenv("TZ", "UTC", 1);
  tzset();
  // 2026-02-01 09:05:03 UTC
  EXPECT_EQ(format_timestamp(1769936703, 7), "01/02 09:05:03.007");
  EXPECT_EQ(format_timestamp(0, 999), "01/01 00:00:00.999");
  setenv("TZ", "CET-1", 1);
  tzset();
  EXPECT_EQ(format_timestamp(1769936703, 42), "01/02 10:05:03.042");
  if (saved) {
    setenv("TZ", saved_tz.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

}  // namespace

}  // namespace kestrelis
