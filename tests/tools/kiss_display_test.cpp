#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kiss/display.hpp"
#include "wire/kiss.hpp"

namespace kestrelis {

namespace {

const std::string text_kind(1, static_cast<char>(gui_text_kind));
const std::string record_kind(gui_telemetry_prefix.begin(), gui_telemetry_prefix.end());

std::vector<uint8_t> bytes(const std::string& text) { return {text.begin(), text.end()}; }

// Every kind of frame the TNC sends is shown; bytes that would drive the
// terminal are shown escaped, and a malformed record is shown, not parsed.
TEST(KissDisplay, EachKindOfFrame) {
  struct Case {
    const char* name;
    std::vector<uint8_t> data;
    const char* shown;
  };
  const Case cases[] = {
      {"text with control bytes", bytes(text_kind + "[x] a\x1b[31m\x7f\xe9"),
       "TEXT [x] a\\x1b[31m\\x7f\\xe9\n"},
      {"digipeater packet", bytes(text_kind + std::string("Hi\0\xC0\xDB", 5)),
       "PACKET 5 bytes\n"
       "  0000  48 69 00 c0 db                                   |Hi...|\n"},
      {"record",
       bytes(record_kind + R"({"tlm_id":"4138","unix_only_ms":"250","unix_s":"1700000000"})"),
       "TELEMETRY sat=1 v=5 beacon, 2023-11-14 22:13:20.250 UTC, 3 fields\n"
       "  tlm_id=4138        unix_only_ms=250   unix_s=1700000000\n"},
      {"malformed record", bytes(record_kind + R"({"x":1)"),
       "TELEMETRY malformed record refused, 6 bytes\n"
       "  0000  7b 22 78 22 3a 31                                |{\"x\":1|\n"},
      {"record head cut short", bytes(record_kind.substr(0, 2)),
       "FRAME 2 bytes of unknown kind 0x64\n"
       "  0000  64 c4                                            |d.|\n"},
      {"empty frame", {}, "FRAME 0 bytes\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(describe_frame(c.data), c.shown);
  }
}

}  // namespace

}  // namespace kestrelis
