#include "packet/dispatch.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace kestrelis {

namespace {

using Bytes = std::vector<uint8_t>;
using Action = PacketAction;

TEST(Dispatch, ActsBySourceThenPort) {
  struct Case {
    const char* name;
    uint8_t source;
    uint8_t port;
    Bytes payload;
    Action action;
    Bytes gui_data = {};
    std::string text = {};
  };
  const Case cases[] = {
      {"own telemetry", 25, 8, {0x10, 0x28}, Action::self_generated},
      {"own digipeater packet", 25, 14, {0x41}, Action::self_generated},
      {"own, unknown port", 25, 2, {}, Action::self_generated},
      {"digipeater packet",
       1,
       14,
       {0, 0xC0, 0xDB, 'A'},
       Action::digipeater_packet,
       {0x50, 0, 0xC0, 0xDB, 'A'}},
      {"empty digipeater packet", 1, 14, {}, Action::digipeater_packet, {0x50}},
      {"text message", 1, 29, {0, 3, 'H', 'i'}, Action::digipeater_message, {}, "Hi"},
      {"text ends at zero", 1, 29, {0, 3, 'H', 'i', 0, 'A'}, Action::digipeater_message, {}, "Hi"},
      {"empty text", 1, 29, {7, 3}, Action::digipeater_message},
      {"percent in text", 1, 29, {0, 3, '5', '%', 's'}, Action::digipeater_message, {}, "5%s"},
      {"other message kind", 1, 29, {0, 4, 'H', 'i'}, Action::ignored},
      {"no message kind", 1, 29, {3}, Action::too_short},
      {"no telemetry word", 1, 8, {0x10}, Action::too_short},
      {"telemetry", 1, 8, {0x20, 0}, Action::telemetry},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Dispatch d = dispatch_csp_packet(c.payload, c.port, c.source);
    EXPECT_EQ(d.action, c.action);
    EXPECT_EQ(d.port, c.port);
    EXPECT_EQ(d.payload_size, c.payload.size());
    EXPECT_EQ(d.gui_data, c.gui_data);
    EXPECT_EQ(d.text, c.text);
  }
  // The telemetry word reaches the decoder: satellite 2 is unknown.
  const Dispatch t = dispatch_csp_packet(Bytes{0x20, 0}, 8, 1);
  EXPECT_EQ(t.telemetry.status, TelemetryStatus::unknown_satellite);
  EXPECT_EQ(t.telemetry.tlm_sat, 2);
}

TEST(Dispatch, PortTable) {
  const Bytes quiet = {1, 4, 6, 7, 10, 11, 19, 20, 21, 22, 23, 26, 27, 28};
  for (uint8_t source : Bytes{1, 0, 2, 5, 24, 26, 31}) {
    for (uint8_t port = 0; port < 64; ++port) {
      if (source == 1 && (port == 8 || port == 14 || port == 29)) continue;
      SCOPED_TRACE(testing::Message() << "source " << int{source} << " port " << int{port});
      const bool unknown =
          source == 1 && std::find(quiet.begin(), quiet.end(), port) == quiet.end();
      EXPECT_EQ(dispatch_csp_packet(Bytes{0x10, 0x03, 0x48}, port, source).action,
                unknown ? Action::unknown_port : Action::ignored);
    }
  }
}

}  // namespace

}  // namespace kestrelis
