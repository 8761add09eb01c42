#include "request/requests.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "radio/test_bit_stream.hpp"

namespace kestrelis {

namespace {

using Lines = std::vector<std::string>;
using Kind = RequestKind;

// An uplink packet: payload as text, destination, source port, destination port.
using Sent = std::tuple<std::string, int, int, int>;

Sent list_packet() { return {"L", 1, 14, 14}; }
Sent ping_packet(const std::string& call) { return {call, 5, 14, 1}; }
// A message request travels with its terminating zero.
Sent message_packet(std::string text) {
  text.push_back('\0');
  return {text, 1, 30, 14};
}

const Lines parse_failure = {"Error parsing input string\n",
                             "Example: \"QQ0ABC>QQ0XYZ, Kestrelis, STORE=0 message\"\n"};
const std::string prefix = "QQ0ABC>QQ0XYZ, Kestrelis, STORE=";

struct Case {
  const char* name;
  std::string request;
  Kind kind;
  Lines refusal = {};
  std::optional<Sent> packet = {};
  std::string confirmation = {};  // after "Transmitted: "
  std::string satellite = {};
  bool destination_nocall = false;
  bool source_nocall = false;
  std::string call_from = "QQ0ABC";
};

void run(const Case& c) {
  SCOPED_TRACE(c.name);
  const GuiRequest r = parse_gui_request(
      std::span(reinterpret_cast<const uint8_t*>(c.request.data()), c.request.size()), c.call_from);
  EXPECT_EQ(r.kind, c.kind);
  EXPECT_EQ(r.refusal, c.refusal);
  EXPECT_EQ(r.packet.has_value(), c.packet.has_value());
  if (r.packet && c.packet) {
    const UplinkPacket& p = *r.packet;
    EXPECT_EQ(Sent(std::string(p.payload.begin(), p.payload.end()), p.destination, p.source_port,
                   p.destination_port),
              *c.packet);
  }
  EXPECT_EQ(r.confirmation, c.confirmation.empty() ? "" : "Transmitted: " + c.confirmation);
  EXPECT_EQ(r.satellite, c.satellite);
  EXPECT_EQ(r.destination_nocall, c.destination_nocall);
  EXPECT_EQ(r.source_nocall, c.source_nocall);
}

TEST(Requests, CommandsAndNocallCallSigns) {
  const std::string to_nocall = "QQ0ABC>NOCALL,Kestrelis,STORE=0 m";
  const Case cases[] = {
      {"list", "cmd:list", Kind::command, {}, list_packet()},
      {"list after spaces", "cmd:   list", Kind::command, {}, list_packet()},
      {"count", "cmd: count", Kind::command, {}, Sent{"C", 1, 14, 14}},
      {"ends at zero byte", std::string("cmd:list\0junk", 13), Kind::command, {}, list_packet()},
      {"ping", "cmd:ping", Kind::command, {}, ping_packet("QQ0ABC")},
      {"destination NOCALL is sent",
       to_nocall,
       Kind::message,
       {},
       message_packet(to_nocall),
       "QQ0ABC>NOCALL, Kestrelis, STORE=0 m",
       "Kestrelis",
       true},
      {"source NOCALL is not",
       "NOCALL>QQ0XYZ, Kestrelis, STORE=0 m",
       Kind::message,
       {},
       {},
       {},
       "Kestrelis",
       false,
       true},
  };
  for (const Case& c : cases) run(c);
  // The call sign travels in a ping up to 9 characters; a longer one sends nothing.
  Case ping = {"ping 9 characters", "cmd:ping", Kind::command, {}, ping_packet("QQ0ABCDEF")};
  ping.call_from = "QQ0ABCDEF";
  run(ping);
  ping = {"ping 10 characters", "cmd:ping", Kind::command};
  ping.call_from = "QQ0ABCDEFG";
  run(ping);
}

TEST(Requests, MessagesAreConfirmedAndSentWithTheirText) {
  struct Message {
    const char* name;
    std::string request;
    std::string shown;        // the confirmation after "Transmitted: "
    std::string on_air = "";  // the payload text before its zero byte; empty: the request
    std::string satellite = "Kestrelis";
  };
  const std::string longest = prefix + "0 " + std::string(160 - prefix.size() - 2, 'm');
  const Message messages[] = {
      {"message", prefix + "0 message", prefix + "0 message"},
      {"spaces travel, confirmation without", "QQ0ABC > QQ0XYZ , Kestrelis, STORE = 10   hi",
       prefix + "10 hi"},
      {"ORVANE", "QQ0ABC>QQ0XYZ,ORVANE,STORE=86399 x", "QQ0ABC>QQ0XYZ, ORVANE, STORE=86399 x", "",
       "ORVANE"},
      {"digit-following character skipped", prefix + "5hello", prefix + "5 ello"},
      {"no digits", "QQ0ABC>QQ0XYZ,KESTRELIS,STORE=hello", "QQ0ABC>QQ0XYZ, KESTRELIS, STORE=0 ello",
       "", "KESTRELIS"},
      {"empty message", prefix + "19", prefix + "19 "},
      {"tab and line feed", prefix + "0 a\tb\n", prefix + "0 a\tb\n"},
      {"percent doubled on air, single in the confirmation", prefix + "0 50% off",
       prefix + "0 50% off", prefix + "0 50%% off"},
      {"backslash doubled on air and in the confirmation", prefix + "0 a\\b", prefix + "0 a\\\\b",
       prefix + "0 a\\\\b"},
      {"a split percent pair is shown, not formatted", prefix + "1%s%n", prefix + "1 %s%n",
       prefix + "1%%s%%n"},
      {"160 characters", longest, longest},
  };
  for (const Message& m : messages) {
    run({m.name,
         m.request,
         Kind::message,
         {},
         message_packet(m.on_air.empty() ? m.request : m.on_air),
         m.shown,
         m.satellite});
  }
}

TEST(Requests, RefusedRequestsSayWhyAndSendNothing) {
  const std::pair<std::string, Lines> cases[] = {
      {"cmd:list ", {"Unknown command \"list \""}},
      {"cmd:", {"Unknown command \"\""}},
      {"cmd:" + std::string(20, 'x'), {"Command string too long\n"}},
      {"CMD:list", parse_failure},
      {"", parse_failure},
      {">QQ0XYZ, Kestrelis, STORE=0 m", parse_failure},
      {"QQ0ABCDEFGH>QQ0XYZ, Kestrelis, STORE=0 m", parse_failure},  // '>' beyond 10 characters
      {"QQ0ABC>QQ0XYZ, Kestrelis STORE=0 m", parse_failure},
      {"QQ0ABC>QQ0XYZ, Kestrelis, STORE 0 m", parse_failure},
      {"QQ0ABC>QQ0XYZ, KestreliS, STORE=0 m", parse_failure},
      {"QQ0ABC>QQ0XYZ, Kestrelis, store=0 m", parse_failure},
      {prefix + std::string(21, '1') + " m", parse_failure},
      {"QQ0ABCDEF>QQ0XYZ, Kestrelis, STORE=0 m", {"Improper callsign\n"}},
      {"QQ0ABC>QQ0XYZABC, Kestrelis, STORE=0 m", {"Improper callsign\n"}},
      {"QQ0ABC>QQ0XYZ, KestrelisXY, STORE=0 m", {"Improper cubesat name\n"}},
      {"  >QQ0XYZ, Kestrelis, STORE=0 m", {"Improper callsign\n"}},
      {"QQ0ABC>QQ0XYZ,  , STORE=0 m", {"Improper cubesat name\n"}},
      {prefix + "86400 m", {"Maximum relay delay is 24 hours\n"}},
      {prefix + "99999999999 m", {"Maximum relay delay is 24 hours\n"}},
      {prefix + "0 " + std::string(181, 'm'), {"Message length exceeds limit of 180 bytes"}},
      {prefix + "0 caf\xE9", {"Non-ASCII characters in message\n"}},
      {prefix + "0 a\x7F", {"Non-ASCII characters in message\n"}},
      {prefix + "0 " + std::string(161 - prefix.size() - 2, 'm'),
       {"Maximum packet size is reached (201/200 bytes)\n"}},
  };
  for (const auto& [request, refusal] : cases)
    run({request.c_str(), request, Kind::refused, refusal});
}

// The frame of the list command is the known one; a payload beyond 215 bytes
// makes no frame.
TEST(Requests, UplinkFrame) {
  EXPECT_EQ(uplink_frame({{'L'}, 1, 14, 14}), list_frame);
  EXPECT_EQ(uplink_frame({std::vector<uint8_t>(215, 'm'), 1, 30, 14}).size(), 262u);
  EXPECT_TRUE(uplink_frame({std::vector<uint8_t>(216, 'm'), 1, 30, 14}).empty());
}

}  // namespace

}  // namespace kestrelis
