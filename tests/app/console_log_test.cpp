#include "app/console_log.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <regex>
#include <string>
#include <vector>

#include "app/config.hpp"

namespace {

std::vector<std::string> lines;
void capture(std::string_view text) { lines.emplace_back(text); }

class ConsoleLog : public ::testing::Test {
 protected:
  void SetUp() override {
    lines.clear();
    console_sink = capture;
    saved_level_ = tnc_config.VerboseLevel;
  }
  void TearDown() override {
    console_sink = nullptr;
    tnc_config.VerboseLevel = saved_level_;
  }
  int saved_level_ = 1;
};

// "[DD/MM hh:mm:ss.mmm] " followed by the message.
const std::regex stamped(R"(\[\d\d/\d\d \d\d:\d\d:\d\d\.\d\d\d\] ([\s\S]*))");

TEST_F(ConsoleLog, LineIsTimeStampThenMessage) {
  console_log("Received %d bytes\r\n", 41);
  ASSERT_EQ(lines.size(), 1u);
  std::smatch m;
  ASSERT_TRUE(std::regex_match(lines[0], m, stamped)) << lines[0];
  EXPECT_EQ(m[1], "Received 41 bytes\r\n");
}

TEST_F(ConsoleLog, LevelsAgainstVerboseLevel) {
  struct Case {
    int verbose;
    int level;
    bool shown;
  };
  const Case cases[] = {{1, 5, false}, {5, 5, true}, {1, 1, true}, {0, 1, false},
                        {-3, 0, false}, {2, 2, true}, {4, 5, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "VerboseLevel " << c.verbose << " level " << c.level);
    lines.clear();
    tnc_config.VerboseLevel = c.verbose;
    verbose_log(c.level, "x\n");
    EXPECT_EQ(lines.size(), c.shown ? 1u : 0u);
  }
}

TEST_F(ConsoleLog, LongMessageIsCutTo299Characters) {
  std::string long_text(400, 'm');
  console_log("%s\n", long_text.c_str());
  std::smatch m;
  ASSERT_TRUE(std::regex_match(lines.at(0), m, stamped));
  EXPECT_EQ(m[1], std::string(299, 'm'));  // the line end is lost with the rest
}

TEST_F(ConsoleLog, PlainOutputHasNoTimeStamp) {
  console_print("getaddrinfo failed with error: %d\n", -2);
  console_text("Can't load 'config.ini'\n");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "getaddrinfo failed with error: -2\n");
  EXPECT_EQ(lines[1], "Can't load 'config.ini'\n");
}

TEST(TimeStamp, DayBeforeMonthInLocalTime) {
  const char* saved = std::getenv("TZ");
  std::string saved_tz = saved ? saved : "";
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
  EXPECT_EQ(format_timestamp_now().size(), 18u);
}

}  // namespace
