// KISS framing where the golden transcript, which sends whole frames of each
// kind, does not reach: frames shared or surrounded, and the length limit
// after unescaping.

#include "wire/kiss.hpp"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace kestrelis {

namespace {

using Bytes = std::vector<uint8_t>;

TEST(WireKiss, FramesAreCutAndEscapedAsTheGuiSendsThem) {
  Bytes skipping = {0xC0, 0x00};  // 200 bytes, then an escape while the rest is skipped
  skipping.resize(202, 'a');
  skipping.insert(skipping.end(), {0xDB, 0xC0, 'x', 0xC0, 0xC0, 0x00, 'B', 0xC0});
  // Name, bytes received, frames cut, events (o: frame opened, c: closed, x: overflowed).
  const std::tuple<const char*, Bytes, std::vector<Bytes>, std::string> cases[] = {
      {"command byte ignored", {0xC0, 0x05, 0x61, 0xC0}, {{0x61}}, "oc"},
      {"command byte only", {0xC0, 0x00, 0xC0}, {{}}, "oc"},
      {"escaped FESC", {0xC0, 0x00, 0x41, 0xDB, 0xDD, 0xC0}, {{0x41, 0xDB}}, "oc"},
      {"FEND after FESC", {0xC0, 0x00, 0x41, 0xDB, 0xC0, 0x42, 0xC0}, {{0x41, 0xDB, 0x42}}, "oc"},
      {"shared FEND", {0xC0, 0x00, 0x41, 0xC0, 0x00, 0x42, 0xC0}, {{0x41}}, "oco"},
      {"bytes outside a frame", {0x41, 0x42, 0xC0, 0x00, 0x43, 0xC0}, {{0x43}}, "oc"},
      {"200 after unescaping", kiss_encode(Bytes(199, 0xC0)), {Bytes(199, 0xC0)}, "oc"},
      {"escape while skipping", skipping, {{'B'}}, "oxcoc"},
  };
  for (const auto& [name, bytes, expected_frames, expected_events] : cases) {
    SCOPED_TRACE(name);
    KissDeframer d;
    std::vector<Bytes> frames;
    std::string events;
    for (uint8_t b : bytes) {
      const KissStep step = kiss_receive_byte(d, b);
      if (step.event != KissStep::Event::none) events += "-ocx"[static_cast<int>(step.event)];
      if (step.frame) frames.emplace_back(step.frame->begin(), step.frame->end());
    }
    EXPECT_EQ(frames, expected_frames);
    EXPECT_EQ(events, expected_events);
  }
  EXPECT_EQ(kiss_encode(Bytes{0x50, 0xC0, 0x01, 0xDB}),
            (Bytes{0xC0, 0x00, 0x50, 0xDB, 0xDC, 0x01, 0xDB, 0xDD, 0xC0}));
}

}  // namespace

}  // namespace kestrelis
