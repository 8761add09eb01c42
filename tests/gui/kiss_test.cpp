#include "gui/kiss.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/config.hpp"
#include "support/gui_capture.hpp"

namespace {

using Bytes = std::vector<uint8_t>;

// Feeds `chunks` one after the other to one deframer; returns the frames.
std::vector<Bytes> deframe(const std::vector<Bytes>& chunks) {
  KissDeframer d;
  std::vector<Bytes> frames;
  for (const Bytes& chunk : chunks) {
    for (uint8_t b : chunk) {
      if (auto frame = kiss_receive_byte(d, b)) frames.emplace_back(frame->begin(), frame->end());
    }
  }
  return frames;
}

Bytes repeated(size_t n, Bytes unit) {
  Bytes out;
  for (size_t i = 0; i < n; ++i) out.insert(out.end(), unit.begin(), unit.end());
  return out;
}

Bytes joined(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(KissDeframer, CutsFramesAsTheGuiSendsThem) {
  struct Case {
    const char* name;
    std::vector<Bytes> chunks;
    std::vector<Bytes> frames;
  };
  const Case cases[] = {
      {"plain", {{0xC0, 0x00, 0x61, 0x62, 0x63, 0xC0}}, {{0x61, 0x62, 0x63}}},
      {"command byte ignored", {{0xC0, 0x05, 0x61, 0xC0}}, {{0x61}}},
      {"escapes", {{0xC0, 0x00, 0xDB, 0xDC, 0xDB, 0xDD, 0xC0}}, {{0xC0, 0xDB}}},
      {"unknown escape keeps FESC", {{0xC0, 0x00, 0xDB, 0x41, 0xC0}}, {{0xDB}}},
      {"FEND after FESC swallowed",
       {{0xC0, 0x00, 0x41, 0xDB, 0xC0, 0x42, 0xC0}},
       {{0x41, 0xDB, 0x42}}},
      {"two frames", {{0xC0, 0x00, 0x41, 0xC0, 0xC0, 0x00, 0x42, 0xC0}}, {{0x41}, {0x42}}},
      {"split across receives", {{0xC0, 0x00, 0x41}, {0xDB}, {0xDC, 0xC0}}, {{0x41, 0xC0}}},
      {"shared FEND", {{0xC0, 0x00, 0x41, 0xC0, 0x00, 0x42, 0xC0}}, {{0x41}}},
      {"nothing between FENDs", {{0xC0, 0xC0}}, {}},
      {"command byte only", {{0xC0, 0x00, 0xC0}}, {{}}},
      {"bytes outside a frame", {{0x41, 0x42, 0xC0, 0x00, 0x43, 0xC0}}, {{0x43}}},
      {"200 bytes fit", {joined({{0xC0, 0x00}, Bytes(199, 0x61), {0xC0}})}, {Bytes(199, 0x61)}},
      {"200 bytes after unescaping fit",
       {joined({{0xC0, 0x00}, repeated(199, {0xDB, 0xDC}), {0xC0}})},
       {Bytes(199, 0xC0)}},
      {"201 bytes dropped whole, the next frame kept",
       {joined({{0xC0, 0x00}, Bytes(200, 0x61), {0xC0, 0xC0, 0x00, 0x42, 0xC0}})},
       {{0x42}}},
      {"escape tracked while skipping",
       {joined({{0xC0, 0x00}, Bytes(200, 0x61), {0xDB, 0xC0, 0x78, 0xC0, 0xC0, 0x00, 0x42, 0xC0}})},
       {{0x42}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(deframe(c.chunks), c.frames);
  }
}

TEST(KissDeframer, ReportsFramingAtLevelFourAndOverflowOnce) {
  OutputCapture capture;
  tnc_config.VerboseLevel = 4;
  deframe({{0xC0, 0xC0}});
  EXPECT_EQ(
      capture.console_messages(),
      (std::vector<std::string>{"New KISS packet detected\n", "Finished reading KISS packet\n"}));
  tnc_config.VerboseLevel = 1;
  capture.clear();
  deframe({joined({{0xC0, 0x00}, Bytes(500, 0x61), {0xC0}})});
  EXPECT_EQ(capture.console_messages(),
            std::vector<std::string>{"KISS frame from GUI longer than 200 bytes dropped\n"});
}

TEST(KissEncode, EscapesFendAndFesc) {
  struct Case {
    const char* name;
    std::vector<uint8_t> data;
    std::vector<uint8_t> frame;
  };
  const Case cases[] = {
      {"mixed", {0x50, 0xC0, 0x01, 0xDB}, {0xC0, 0x00, 0x50, 0xDB, 0xDC, 0x01, 0xDB, 0xDD, 0xC0}},
      {"empty", {}, {0xC0, 0x00, 0xC0}},
      {"worst case doubles", {0xC0, 0xC0}, {0xC0, 0x00, 0xDB, 0xDC, 0xDB, 0xDC, 0xC0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(kiss_encode(c.data), c.frame);
  }
}

}  // namespace
