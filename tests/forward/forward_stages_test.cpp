// The forwarder's pure stages: its settings, the form of a packet, the state
// file's text, the order of day files and the whole lines of a piece of log.

#include <gtest/gtest.h>

#include <random>

#include "forward/forward_config.hpp"
#include "forward/log_position.hpp"
#include "forward/share_form.hpp"
#include "system/http_stand_in.hpp"

namespace kestrelis {
namespace {

TEST(ForwardConfig, ReadsItsKeysAndNamesWhatIsMissing) {
  struct Case {
    const char* name;
    const char* ini;
    std::vector<std::string> problem_starts;
  };
  const char* good =
      "[radio]\nCallFrom = QQ0ABC\n[forward]\nURL = https://team.example/up\n"
      "NoradID = 99999\n";
  const Case cases[] = {
      {"complete", good, {}},
      {"empty", "", {"Config: no URL", "Config: no NoradID", "Config: no CallFrom"}},
      {"default call sign",
       "[radio]\nCallFrom = NOCALL\n[forward]\nURL = http://h/\nNoradID = 1\n",
       {"Config: no CallFrom"}},
      {"other scheme",
       "[radio]\nCallFrom = A\n[forward]\nURL = ftp://h/\nNoradID = 1\n",
       {"Config: URL = ftp://h/ is neither"}},
      {"name for a number",
       "[radio]\nCallFrom = A\n[forward]\nURL = http://h/\nNoradID = SAT\n",
       {"Config: NoradID = SAT is not"}},
      {"keys in the wrong section",
       "[forward]\nCallFrom = A\n[radio]\nURL = http://h/\n",
       {"Config: no URL", "Config: no NoradID", "Config: no CallFrom"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::string> problems = forward_config_problems(read_forward_config(c.ini));
    ASSERT_EQ(problems.size(), c.problem_starts.size());
    for (size_t i = 0; i < problems.size(); ++i) {
      EXPECT_EQ(problems[i].rfind(c.problem_starts[i], 0), 0u) << problems[i];
      EXPECT_EQ(problems[i].back(), '\n');
    }
  }
}

TEST(ShareForm, FieldsOfAPacket) {
  ForwardConfig config{"http://h/", "99999", "", "52.5", "-13.25", "QQ0ABC"};
  LoggedPacket packet;
  packet.received = "2026-12-06T21:57:21.123Z";
  packet.frame = {0x8a, 0x00, 0x1f, 0xc0, 0xff};
  const FormFields expected = {
      {"noradID", "99999"},    {"source", "QQ0ABC"},    {"timestamp", "2026-12-06T21:57:21.123Z"},
      {"frame", "8A001FC0FF"}, {"longitude", "-13.25"}, {"latitude", "52.5"}};
  EXPECT_EQ(share_fields(config, packet), expected);
  EXPECT_EQ(urlencode_form({{"a b", "x&y=z+%"}}), "a%20b=x%26y%3Dz%2B%25");
}

// What the forwarder encodes, a server decodes to the same fields, whatever bytes they hold.
TEST(ShareForm, EncodedFormDecodesToTheSameFields) {
  constexpr unsigned seed = 20261206;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  for (int round = 0; round < 200; ++round) {
    FormFields fields(random() % 5);
    for (auto& [name, value] : fields) {
      name.resize(1 + random() % 8);
      value.resize(random() % 20);
      for (char& c : name) c = static_cast<char>(random() % 256);
      for (char& c : value) c = static_cast<char>(random() % 256);
    }
    const std::optional<StandInForm> decoded = decode_form(urlencode_form(fields));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, fields);
  }
}

TEST(LogPosition, StateFileText) {
  const LogPosition position{"2026-12-06.jsonl", 18446744073709551615u};
  const std::optional<LogPosition> back = parse_log_position(log_position_text(position));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->day_file, position.day_file);
  EXPECT_EQ(back->offset, position.offset);
  for (const char* bad : {"", "2026-12-06.jsonl 12", "2026-12-06.jsonl\n", "2026-12-06.jsonl -1\n",
                          "2026-12-06.jsonl 12x\n", "2026-12-06.jsonl 18446744073709551616\n",
                          "../etc/passwd.jsonl 0\n", "2026-12-6.jsonl 0\n"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(parse_log_position(bad));
  }
}

TEST(LogPosition, NextDayFileAndWholeLines) {
  const std::vector<std::string> names = {"2026-12-07.jsonl", "notes.txt", "2026-12-06.jsonl",
                                          "2026-12-10.jsonl.tmp", "2027-01-01.jsonl"};
  EXPECT_EQ(next_day_file(names, ""), "2026-12-06.jsonl");
  EXPECT_EQ(next_day_file(names, "2026-12-06.jsonl"), "2026-12-07.jsonl");
  EXPECT_EQ(next_day_file(names, "2026-12-08.jsonl"), "2027-01-01.jsonl");
  EXPECT_FALSE(next_day_file(names, "2027-01-01.jsonl"));

  const std::vector<LogLine> lines = whole_lines("ab\n\ncd\n{\"cut");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].text, "ab");
  EXPECT_EQ(lines[1].text, "");
  EXPECT_EQ(lines[2].text, "cd");
  EXPECT_EQ(lines[2].end, 7u);
  EXPECT_TRUE(whole_lines("no line end").empty());
}

}  // namespace
}  // namespace kestrelis
