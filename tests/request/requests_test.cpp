// GUI requests where the golden transcript does not reach: the edges of each
// field, the spellings that are accepted, and the call sign in a ping.

#include "request/requests.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrelis {

namespace {

const std::string prefix = "QQ0ABC>QQ0XYZ, Kestrelis, STORE=";

GuiRequest parsed(const std::string& request, const std::string& call_from = "QQ0ABC") {
  return parse_gui_request(
      std::span(reinterpret_cast<const uint8_t*>(request.data()), request.size()), call_from);
}

// A request's outcome in one line: the satellite, the payload sent (a zero
// byte as \0) and the confirmation.
std::string outcome(const std::string& request, const std::string& call_from = "QQ0ABC") {
  const GuiRequest r = parsed(request, call_from);
  std::string out = r.satellite.empty() ? "" : "to " + r.satellite + ": ";
  for (uint8_t b : r.packet ? r.packet->payload : std::vector<uint8_t>{})
    out += b == 0 ? std::string("\\0") : std::string(1, static_cast<char>(b));
  return r.confirmation.empty() ? out : out + " | " + r.confirmation;
}

TEST(Requests, CommandsAndThePingCallSign) {
  EXPECT_EQ(outcome("cmd:   list"), "L");
  EXPECT_EQ(outcome(std::string("cmd:list\0junk", 13)), "L");
  EXPECT_EQ(outcome("cmd:ping", "QQ0ABCDEF"), "QQ0ABCDEF");
  EXPECT_EQ(outcome("cmd:ping", "QQ0ABCDEFG"), "");  // too long to travel: nothing sent
  EXPECT_EQ(outcome("NOCALL>QQ0XYZ, Kestrelis, STORE=0 hi"), "to Kestrelis: ");  // nor from NOCALL
}

TEST(Requests, MessagesTravelAsTypedAndAreConfirmedTidied) {
  const std::string longest = prefix + "0 " + std::string(160 - prefix.size() - 2, 'm');
  const struct {
    const char* name;
    std::string request;
    std::string shown;        // the confirmation after "Transmitted: "
    std::string on_air = "";  // the payload text before its zero byte; empty: the request
    std::string satellite = "Kestrelis";
  } messages[] = {
      {"spaces travel, confirmation without", "QQ0ABC > QQ0XYZ , Kestrelis, STORE = 10   hi",
       prefix + "10 hi"},
      {"ORVANE", "QQ0ABC>QQ0XYZ,ORVANE,STORE=86399 x", "QQ0ABC>QQ0XYZ, ORVANE, STORE=86399 x", "",
       "ORVANE"},
      {"digit-following character skipped", prefix + "5hello", prefix + "5 ello"},
      {"no digits", "QQ0ABC>QQ0XYZ,KESTRELIS,STORE=hello", "QQ0ABC>QQ0XYZ, KESTRELIS, STORE=0 ello",
       "", "KESTRELIS"},
      {"a split percent pair is shown, not formatted", prefix + "1%s%n", prefix + "1 %s%n",
       prefix + "1%%s%%n"},
      {"160 characters", longest, longest},
  };
  for (const auto& m : messages) {
    SCOPED_TRACE(m.name);
    EXPECT_EQ(outcome(m.request), "to " + m.satellite + ": " +
                                      (m.on_air.empty() ? m.request : m.on_air) +
                                      "\\0 | Transmitted: " + m.shown);
  }
}

TEST(Requests, RefusedRequestsSayWhyAndSendNothing) {
  using enum RefusalKind;
  const std::pair<std::string, Refusal> cases[] = {
      {"cmd:list ", {.kind = unknown_command, .value = "list "}},
      {"cmd:abcdefghijklmnopqrs", {.kind = unknown_command, .value = "abcdefghijklmnopqrs"}},
      {"cmd:abcdefghijklmnopqrst", {.kind = command_too_long}},
      {"QQ0ABC>QQ0XYZ, Kestrelis, SEND=0 m", {.kind = unparsable}},
      {">QQ0XYZ, Kestrelis, STORE=0 m", {.kind = unparsable}},
      // '>' beyond 10 characters
      {"QQ0ABCDEFGH>QQ0XYZ, Kestrelis, STORE=0 m", {.kind = unparsable}},
      {"QQ0ABC>QQ0XYZ, KestreliS, STORE=0 m", {.kind = unparsable}},
      // 20 digits are read, 21 are not.
      {prefix + std::string(20, '1') + " m", {.kind = relay_delay_too_long, .limit = 86400}},
      {prefix + std::string(21, '1') + " m", {.kind = unparsable}},
      {"QQ0ABCDEF>QQ0XYZ, Kestrelis, STORE=0 m", {.kind = improper_callsign}},
      {"QQ0ABC>QQ0XYZABC, Kestrelis, STORE=0 m", {.kind = improper_callsign}},
      {"QQ0ABC>, Kestrelis, STORE=0 m", {.kind = improper_callsign}},
      {"QQ0ABC>QQ0XYZ, , STORE=0 m", {.kind = improper_satellite}},
      // 24 hours exactly
      {prefix + "86400 m", {.kind = relay_delay_too_long, .limit = 86400}},
      {prefix + "0 " + std::string(181, 'm'), {.kind = message_too_long, .limit = 180}},
      {prefix + "0 " + std::string(180, 'm'),  // at the length limit: too big a packet
       {.kind = packet_too_big, .size = 254, .limit = 200}},
      {prefix + "0 a\x7F", {.kind = non_ascii_message}},
      {prefix + "0 " + std::string(161 - prefix.size() - 2, 'm'),
       {.kind = packet_too_big, .size = 201, .limit = 200}},
  };
  for (const auto& [request, refusal] : cases) {
    SCOPED_TRACE(request);
    const GuiRequest r = parsed(request);
    EXPECT_TRUE(r.kind == RequestKind::refused && r.refusal == refusal && !r.packet)
        << static_cast<int>(r.refusal.kind);
  }
}

}  // namespace

}  // namespace kestrelis
