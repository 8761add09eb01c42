#include <gtest/gtest.h>

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

}  // namespace
