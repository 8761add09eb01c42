#include <gtest/gtest.h>

#include <vector>

#include "gui/gui_link.hpp"
#include "gui/kiss.hpp"
#include "support/gui_capture.hpp"

namespace {

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

TEST(GuiLink, MessageIsStampedAndCutTo299Characters) {
  OutputCapture capture;
  gui_message("Received: %s", "Hi");
  gui_text(std::string(400, 'x'));
  gui_text("100% sure");
  auto messages = capture.gui_messages();
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(messages[0], "Received: Hi");
  EXPECT_EQ(messages[1], std::string(299, 'x'));
  EXPECT_EQ(messages[2], "100% sure");
  EXPECT_EQ(capture.gui_texts()[0].substr(0, 2), "P[");
}

TEST(GuiLink, NoClientIsReportedOncePerFrame) {
  OutputCapture capture;
  gui_sink = nullptr;  // the socket path, with no client connected
  const uint8_t data[] = {0x50};
  send_to_gui(data);
  send_to_gui(data);
  auto lines = capture.console_messages();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Cannot send data to GUI (GUI not connected)\n");
}

}  // namespace
