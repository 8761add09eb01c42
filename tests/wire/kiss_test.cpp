#include "wire/kiss.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrelis {

namespace {

using Bytes = std::vector<uint8_t>;

struct Deframed {
  std::vector<Bytes> frames;
  std::string events;  // o: frame opened, c: closed, x: overflowed
};

// Feeds `chunks` one after the other to one deframer.
Deframed deframe(const std::vector<Bytes>& chunks) {
  KissDeframer d;
  Deframed out;
  for (const Bytes& chunk : chunks) {
    for (uint8_t b : chunk) {
      const KissStep step = kiss_receive_byte(d, b);
      if (step.event == KissStep::Event::frame_opened) out.events += 'o';
      if (step.event == KissStep::Event::frame_closed) out.events += 'c';
      if (step.event == KissStep::Event::overflowed) out.events += 'x';
      if (step.frame) out.frames.emplace_back(step.frame->begin(), step.frame->end());
    }
  }
  return out;
}

Bytes joined(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes repeated(size_t n, const Bytes& unit) {
  Bytes out;
  for (size_t i = 0; i < n; ++i) out.insert(out.end(), unit.begin(), unit.end());
  return out;
}

TEST(WireKiss, DeframerCutsFramesAsTheGuiSendsThem) {
  struct Case {
    const char* name;
    std::vector<Bytes> chunks;
    std::vector<Bytes> frames;
    std::string events;
  };
  const Case cases[] = {
      {"plain", {{0xC0, 0x00, 0x61, 0x62, 0x63, 0xC0}}, {{0x61, 0x62, 0x63}}, "oc"},
      {"command byte ignored", {{0xC0, 0x05, 0x61, 0xC0}}, {{0x61}}, "oc"},
      {"escapes", {{0xC0, 0x00, 0xDB, 0xDC, 0xDB, 0xDD, 0xC0}}, {{0xC0, 0xDB}}, "oc"},
      {"unknown escape keeps FESC", {{0xC0, 0x00, 0xDB, 0x41, 0xC0}}, {{0xDB}}, "oc"},
      {"FEND after FESC swallowed",
       {{0xC0, 0x00, 0x41, 0xDB, 0xC0, 0x42, 0xC0}},
       {{0x41, 0xDB, 0x42}},
       "oc"},
      {"two frames", {{0xC0, 0x00, 0x41, 0xC0, 0xC0, 0x00, 0x42, 0xC0}}, {{0x41}, {0x42}}, "ococ"},
      {"split across receives", {{0xC0, 0x00, 0x41}, {0xDB}, {0xDC, 0xC0}}, {{0x41, 0xC0}}, "oc"},
      {"shared FEND", {{0xC0, 0x00, 0x41, 0xC0, 0x00, 0x42, 0xC0}}, {{0x41}}, "oco"},
      {"nothing between FENDs", {{0xC0, 0xC0}}, {}, "oc"},
      {"command byte only", {{0xC0, 0x00, 0xC0}}, {{}}, "oc"},
      {"bytes outside a frame", {{0x41, 0x42, 0xC0, 0x00, 0x43, 0xC0}}, {{0x43}}, "oc"},
      {"200 bytes fit",
       {joined({{0xC0, 0x00}, Bytes(199, 0x61), {0xC0}})},
       {Bytes(199, 0x61)},
       "oc"},
      {"200 bytes after unescaping fit",
       {joined({{0xC0, 0x00}, repeated(199, {0xDB, 0xDC}), {0xC0}})},
       {Bytes(199, 0xC0)},
       "oc"},
      {"201 bytes reported once, dropped whole, the next frame kept",
       {joined({{0xC0, 0x00}, Bytes(500, 0x61), {0xC0, 0xC0, 0x00, 0x42, 0xC0}})},
       {{0x42}},
       "oxcoc"},
      {"escape tracked while skipping",
       {joined({{0xC0, 0x00}, Bytes(200, 0x61), {0xDB, 0xC0, 0x78, 0xC0, 0xC0, 0x00, 0x42, 0xC0}})},
       {{0x42}},
       "oxcoc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Deframed out = deframe(c.chunks);
    EXPECT_EQ(out.frames, c.frames);
    EXPECT_EQ(out.events, c.events);
  }
}

TEST(WireKiss, EncodeEscapesFendAndFesc) {
  struct Case {
    const char* name;
    Bytes data;
    Bytes frame;
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

}  // namespace kestrelis
