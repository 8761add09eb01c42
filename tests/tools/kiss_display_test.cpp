#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "kiss/display.hpp"

namespace {

std::vector<uint8_t> bytes(std::string_view text) { return {text.begin(), text.end()}; }

TEST(KissDisplay, EachKindOfFrame) {
  struct Case {
    const char* name;
    std::vector<uint8_t> data;
    const char* shown;
  };
  const Case cases[] = {
      {"text line",
       bytes("P[05/12 14:03:07.412] Transmitted: QQ0ABC>QQ0XYZ, Kestrelis, STORE=0 hi"),
       "TEXT [05/12 14:03:07.412] Transmitted: QQ0ABC>QQ0XYZ, Kestrelis, STORE=0 hi\n"},
      {"text with control bytes", bytes("P[x] a\x1b[31m\x7f\xe9"),
       "TEXT [x] a\\x1b[31m\\x7f\\xe9\n"},
      {"digipeater packet",
       {'P', 'H', 'i', 0x00, 0xC0, 0xDB},
       "PACKET 5 bytes\n"
       "  0000  48 69 00 c0 db                                   |Hi...|\n"},
      {"empty digipeater packet", {'P'}, "PACKET 0 bytes\n"},
      {"record",
       bytes("d\xC4\x03{\"tlm_id\":\"4138\",\"unix_only_ms\":\"250\",\"unix_s\":\"1700000000\"}"),
       "TELEMETRY sat=1 v=5 beacon, 2023-11-14 22:13:20.250 UTC, 3 fields\n"
       "  tlm_id=4138        unix_only_ms=250   unix_s=1700000000\n"},
      {"empty record", bytes("d\xC4\x03{}"),
       "TELEMETRY empty record (the TNC knows no layout for it)\n"},
      {"record without tlm_id", bytes("d\xC4\x03{\"x\":\"1\"}"),
       "TELEMETRY sat=? v=? record, time unknown, 1 field\n  x=1\n"},
      {"malformed record", bytes("d\xC4\x03{\"x\":1"),
       "TELEMETRY malformed record refused, 6 bytes\n"
       "  0000  7b 22 78 22 3a 31                                |{\"x\":1|\n"},
      {"record head cut short", bytes("d\xC4"),
       "FRAME 2 bytes of unknown kind 0x64\n"
       "  0000  64 c4                                            |d.|\n"},
      {"empty frame", {}, "FRAME 0 bytes\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(describe_frame(c.data), c.shown);
  }
}

TEST(KissDisplay, LongDumpsAreCut) {
  std::vector<uint8_t> data(2000, 'A');
  data[0] = 'Z';
  std::string shown = describe_frame(data);
  EXPECT_EQ(std::count(shown.begin(), shown.end(), '\n'), 1 + 512 / 16 + 1);
  EXPECT_NE(shown.find("  ... 1488 more bytes\n"), std::string::npos);
}

// Whatever another TNC version sends, the client shows something and goes on.
TEST(KissDisplay, RandomFramesNeverFail) {
  const uint32_t seed = 20261206;
  std::mt19937 random(seed);
  const std::string heads[] = {"", "P", "P[", "d\xC4\x03", "d\xC4\x03{\"a\":\""};
  const std::string_view tokens = "{}\":,\\u0a9 x";
  for (int i = 0; i < 3000; ++i) {
    std::string data = heads[random() % std::size(heads)];
    size_t length = random() % 300;
    for (size_t j = 0; j < length; ++j) data += tokens[random() % tokens.size()];
    if (!data.empty() && random() % 4 == 0) {
      size_t k = random() % data.size();
      data[k] = static_cast<char>(data[k] ^ 0x80);
    }
    std::string shown = describe_frame(bytes(data));
    ASSERT_FALSE(shown.empty()) << "seed " << seed << " frame " << i;
    ASSERT_EQ(shown.back(), '\n') << "seed " << seed << " frame " << i;
  }
}

}  // namespace
