#include "packet/dispatch.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/gui_capture.hpp"

namespace {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

struct Output {
  Lines console;
  Lines gui;
};

Output dispatch(const Bytes& payload, uint8_t port, uint8_t source) {
  OutputCapture capture;
  dispatch_csp_packet(payload, port, source);
  return {capture.console_messages(), capture.gui_messages()};
}

TEST(Dispatch, ActsBySourceThenPort) {
  struct Case {
    const char* name;
    uint8_t source;
    uint8_t port;
    Bytes payload;
    Lines console;
    Lines gui;
  };
  const std::string own = "Received self-generated packet\n";
  const std::string packet = "Digipeater packet\r\n";
  const std::string message = "Digipeater message \r\n";
  const std::string forwarded = {'P', '\0', '\xC0', '\xDB', 'A'};
  const Case cases[] = {
      {"own telemetry", 25, 8, {0x10, 0x28}, {own}, {}},
      {"own digipeater packet", 25, 14, {0x41}, {own}, {}},
      {"own, unknown port", 25, 2, {}, {own}, {}},
      {"digipeater packet", 1, 14, {0, 0xC0, 0xDB, 'A'}, {packet}, {forwarded}},
      {"empty digipeater packet", 1, 14, {}, {packet}, {"P"}},
      {"text message", 1, 29, {0, 3, 'H', 'i'}, {message}, {"Received: Hi"}},
      {"text ends at zero", 1, 29, {0, 3, 'H', 'i', 0, 'A'}, {message}, {"Received: Hi"}},
      {"empty text", 1, 29, {7, 3}, {message}, {"Received: "}},
      {"percent in text", 1, 29, {0, 3, '5', '%', 's'}, {message}, {"Received: 5%s"}},
      {"other message kind", 1, 29, {0, 4, 'H', 'i'}, {}, {}},
      {"no message kind", 1, 29, {3}, {"Dropped port 29 packet of 1 bytes: too short\r\n"}, {}},
      {"no telemetry word", 1, 8, {}, {"Dropped port 8 packet of 0 bytes: too short\r\n"}, {}},
      {"word to decoder", 1, 8, {0x20, 0}, {"2\n", "UNKNOWN SATELLITE! CANNOT UPLOAD TLM\n"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Output out = dispatch(c.payload, c.port, c.source);
    EXPECT_EQ(out.console, c.console);
    EXPECT_EQ(out.gui, c.gui);
  }
}

TEST(Dispatch, PortTable) {
  const Bytes quiet = {1, 4, 6, 7, 10, 11, 19, 20, 21, 22, 23, 26, 27, 28};
  for (uint8_t source : Bytes{1, 0, 2, 5, 24, 26, 31}) {
    for (uint8_t port = 0; port < 64; ++port) {
      if (source == 1 && (port == 8 || port == 14 || port == 29)) continue;
      SCOPED_TRACE(testing::Message() << "source " << int{source} << " port " << int{port});
      Output out = dispatch({0x10, 0x03, 0x48}, port, source);
      bool unknown = source == 1 && std::find(quiet.begin(), quiet.end(), port) == quiet.end();
      EXPECT_EQ(out.console, unknown
                                 ? Lines{"ERROR: Unknown CSP Port " + std::to_string(port) + "\r\n"}
                                 : Lines{});
      EXPECT_TRUE(out.gui.empty());
    }
  }
}

}  // namespace
