// The simulated satellite's answers, on a clock of the test's own.

#include <gtest/gtest.h>

#include <string>

#include "packet/digipeater.hpp"
#include "sim/satellite.hpp"

namespace kestrelis {

namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::literals;

Bytes text(std::string_view s) { return {s.begin(), s.end()}; }

constexpr CspHeader to(uint8_t destination, uint8_t port, uint8_t source_port = 0) {
  return {.destination = destination, .destination_port = port, .source_port = source_port};
}

TEST(SimSatellite, AnswersListCountAndPingAndRelaysAfterTheDelay) {
  Satellite sat;
  sat.time_scale = 10;
  EXPECT_TRUE(satellite_receive(sat, to(satellite_address, digipeater_port, message_source_port),
                                text("QQ0ABC > QQ0XYZ , Kestrelis, STORE = 30   hi there\0"sv),
                                5'000)
                  .replies.empty());
  // A second later, 20 satellite seconds remain.
  constexpr CspHeader command = to(satellite_address, digipeater_port, digipeater_port);
  const struct {
    const char* name;
    CspHeader header;
    Bytes payload;
    std::string reply;
  } cases[] = {
      {"list", command, text("L"), "Stored 1: QQ0ABC>QQ0XYZ in 20 s"},
      {"count", command, text("C"), "Count 1"},
      {"ping", to(ping_address, ping_port), text("QQ0ABC"), "Pong QQ0ABC"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const SatelliteAction a = satellite_receive(sat, c.header, c.payload, 6'000);
    ASSERT_EQ(a.replies.size(), 1u);
    const SimPacket& r = a.replies[0];
    EXPECT_EQ(r.header.source, satellite_address);
    EXPECT_EQ(r.header.destination, ground_station_address);
    EXPECT_EQ(r.header.destination_port, digipeater_port);
    EXPECT_EQ(std::string(r.payload.begin(), r.payload.end()), c.reply);
  }
  EXPECT_TRUE(
      satellite_receive(sat, to(satellite_address, telemetry_port), text("L"), 0).replies.empty());

  // 30 satellite seconds at time scale 10 are 3 s of the caller's clock.
  EXPECT_EQ(next_due_ms(sat), 8'000);
  EXPECT_TRUE(satellite_due(sat, 7'999).empty());
  const std::vector<SimPacket> relays = satellite_due(sat, 8'000);
  ASSERT_EQ(relays.size(), 1u);
  EXPECT_EQ(relays[0].header.source, satellite_address);
  EXPECT_EQ(relays[0].header.destination_port, digipeater_message_port);
  const Bytes& p = relays[0].payload;
  ASSERT_GE(p.size(), 2u);
  EXPECT_EQ(p[1], digipeater_text_message);
  EXPECT_EQ(std::string(p.begin() + 2, p.end()), "QQ0ABC>QQ0XYZ: hi there");
  EXPECT_TRUE(sat.stored.empty());
  EXPECT_TRUE(satellite_due(sat, 100'000).empty());
}

// The satellite's own rules on top of the TNC's split of the line.
TEST(SimSatellite, RefusesEmptyCallSignsAndOtherKeywords) {
  EXPECT_TRUE(parse_digipeater_request("QQ0ABC>QQ0XYZ, Kestrelis, STORE=1 x"));
  for (const char* line : {" >QQ0XYZ, Kestrelis, STORE=1 x", "QQ0ABC> , Kestrelis, STORE=1 x",
                           "QQ0ABC>QQ0XYZ, Kestrelis, KEEP=1 x"}) {
    SCOPED_TRACE(line);
    EXPECT_FALSE(parse_digipeater_request(line));
  }
}

}  // namespace

}  // namespace kestrelis
