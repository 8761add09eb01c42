// The simulated satellite's answers, on a clock of the test's own.

#include <gtest/gtest.h>

#include <string>

#include "sim/satellite.hpp"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes text(std::string_view s, bool zero = false) {
  Bytes b(s.begin(), s.end());
  if (zero) b.push_back(0);
  return b;
}

std::string text_of(const Bytes& b, size_t from = 0) {
  return {b.begin() + static_cast<long>(from), b.end()};
}

constexpr CspHeader digipeater{.destination = 1, .destination_port = 14, .source_port = 30};
constexpr CspHeader command{.destination = 1, .destination_port = 14, .source_port = 14};
constexpr CspHeader ping{.destination = 5, .destination_port = 1, .source_port = 14};

TEST(SimSatellite, AnswersListCountAndPing) {
  Satellite sat;
  const SatelliteAction stored =
      satellite_receive(sat, digipeater, text("QQ0ABC>QQ0XYZ, Kestrelis, STORE=30 hi", true), 0);
  EXPECT_TRUE(stored.replies.empty());
  ASSERT_EQ(sat.stored.size(), 1u);

  const struct {
    const char* name;
    CspHeader header;
    Bytes payload;
    std::string reply;
  } cases[] = {
      {"list", command, text("L"), "Stored 1: QQ0ABC>QQ0XYZ in 20 s"},
      {"count", command, text("C"), "Count 1"},
      {"ping", ping, text("QQ0ABC"), "Pong QQ0ABC"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const SatelliteAction a = satellite_receive(sat, c.header, c.payload, 10'000);
    ASSERT_EQ(a.replies.size(), 1u);
    const SimPacket& r = a.replies[0];
    EXPECT_EQ(r.header.source, satellite_address);
    EXPECT_EQ(r.header.destination, ground_station_address);
    EXPECT_EQ(r.header.destination_port, digipeater_port);
    EXPECT_EQ(text_of(r.payload), c.reply);
  }
  EXPECT_TRUE(
      satellite_receive(sat, CspHeader{.destination = 1, .destination_port = 8}, text("L"), 0)
          .replies.empty());
}

TEST(SimSatellite, RelaysAStoredRequestAfterItsDelay) {
  Satellite sat;
  sat.time_scale = 10;
  (void)satellite_receive(sat, digipeater,
                          text("QQ0ABC > QQ0XYZ , Kestrelis, STORE = 30   hi there", true), 5'000);
  EXPECT_EQ(next_due_ms(sat), 8'000);
  EXPECT_TRUE(satellite_due(sat, 7'999).empty());
  const std::vector<SimPacket> relays = satellite_due(sat, 8'000);
  ASSERT_EQ(relays.size(), 1u);
  EXPECT_EQ(relays[0].header.source, satellite_address);
  EXPECT_EQ(relays[0].header.destination_port, digipeater_message_port);
  ASSERT_GE(relays[0].payload.size(), 2u);
  EXPECT_EQ(relays[0].payload[1], 3);
  EXPECT_EQ(text_of(relays[0].payload, 2), "QQ0ABC>QQ0XYZ: hi there");
  EXPECT_TRUE(sat.stored.empty());
  EXPECT_TRUE(satellite_due(sat, 100'000).empty());
}

TEST(SimSatellite, ParsesRequestLines) {
  const struct {
    const char* line;
    bool ok;
    uint32_t delay;
    const char* message;
  } cases[] = {
      {"QQ0ABC>QQ0XYZ, Kestrelis, STORE=0 message", true, 0, "message"},
      {"QQ0ABC>QQ0XYZ, Kestrelis, STORE=5hello", true, 5, "ello"},
      {"QQ0ABC>QQ0XYZ, Kestrelis, STORE=86399", true, 86399, ""},
      {"QQ0ABC>QQ0XYZ, Kestrelis, STORE=1234567890 x", false, 0, ""},
      {"QQ0ABC>QQ0XYZ, Kestrelis, KEEP=1 x", false, 0, ""},
      {"QQ0ABC QQ0XYZ, Kestrelis, STORE=1 x", false, 0, ""},
      {">QQ0XYZ, Kestrelis, STORE=1 x", false, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const auto r = parse_digipeater_request(c.line);
    ASSERT_EQ(r.has_value(), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(r->from, "QQ0ABC");
    EXPECT_EQ(r->to, "QQ0XYZ");
    EXPECT_EQ(r->delay_s, c.delay);
    EXPECT_EQ(r->text, c.message);
  }
}

}  // namespace
