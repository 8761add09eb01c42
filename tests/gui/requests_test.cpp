#include "gui/requests.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/config.hpp"
#include "support/frame_recording.hpp"
#include "support/gui_capture.hpp"

namespace {

using Lines = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

const Bytes message_header = {0xB2, 0x13, 0x9E, 0x00};
const Bytes command_header = {0xB2, 0x13, 0x8E, 0x00};
const Bytes ping_header = {0xB2, 0x50, 0x4E, 0x00};
const Lines parse_failure = {"Error parsing input string\n",
                             "Example: \"QQ0ABC>QQ0XYZ, Kestrelis, STORE=0 message\"\n"};
const std::string prefix = "QQ0ABC>QQ0XYZ, Kestrelis, STORE=";

struct Case {
  const char* name;
  std::string request;
  Lines console;
  Lines gui = {};
  Bytes header = {};  // empty: nothing transmitted
  std::string payload = {};
  std::string call_from = "QQ0ABC";
};

Bytes bytes(const std::string& s) { return {s.begin(), s.end()}; }
std::string with_zero(std::string s) { return s.push_back('\0'), s; }

void run(const Case& c) {
  SCOPED_TRACE(c.name);
  const std::string saved = tnc_config.CallFrom;
  tnc_config.CallFrom = c.call_from;
  OutputCapture capture;
  FrameRecording recording;
  handle_gui_request(bytes(c.request));
  tnc_config.CallFrom = saved;
  EXPECT_EQ(capture.console_messages(), c.console);
  EXPECT_EQ(capture.gui_messages(), c.gui);
  const auto frames = recording.frames();
  ASSERT_EQ(frames.size(), c.header.empty() ? 0u : 1u);
  if (frames.empty()) return;
  const UplinkPacket packet = read_uplink(frames[0]);
  EXPECT_EQ(packet.header, c.header);
  EXPECT_EQ(packet.payload, bytes(c.payload));
}

TEST(GuiRequests, CommandsPingAndANocallDestination) {
  const Case cases[] = {
      {"list", "cmd:list", {}, {}, command_header, "L"},
      {"list after spaces", "cmd:   list", {}, {}, command_header, "L"},
      {"count", "cmd: count", {}, {}, command_header, "C"},
      {"text ends at zero byte", std::string("cmd:list\0junk", 13), {}, {}, command_header, "L"},
      {"ping", "cmd:ping", {}, {}, ping_header, "QQ0ABC"},
      {"ping 9 characters", "cmd:ping", {}, {}, ping_header, "QQ0ABCDEF", "QQ0ABCDEF"},
      {"ping 10 characters does nothing", "cmd:ping", {}, {}, {}, "", "QQ0ABCDEFG"},
      {"destination NOCALL warned and sent",
       "QQ0ABC>NOCALL,Kestrelis,STORE=0 m",
       {"Transmission to Kestrelis\n"},
       {"Check the destination call sign in the field below.",
        "Transmitted: QQ0ABC>NOCALL, Kestrelis, STORE=0 m"},
       message_header,
       with_zero("QQ0ABC>NOCALL,Kestrelis,STORE=0 m")},
  };
  for (const Case& c : cases) run(c);
}

TEST(GuiRequests, MessagesAreConfirmedAndSentWithTheirText) {
  struct Message {
    const char* name;
    std::string request;
    std::string shown;        // the GUI line after "Transmitted: "
    std::string on_air = "";  // the payload text before its zero byte; empty: the request
    std::string satellite = "Kestrelis";
  };
  const std::string longest = prefix + "0 " + std::string(160 - prefix.size() - 2, 'm');
  const Message messages[] = {
      {"message", prefix + "0 message", prefix + "0 message"},
      {"spaces travel, GUI line without", "QQ0ABC > QQ0XYZ , Kestrelis, STORE = 10   hi",
       prefix + "10 hi"},
      {"ORVANE", "QQ0ABC>QQ0XYZ,ORVANE,STORE=86399 x", "QQ0ABC>QQ0XYZ, ORVANE, STORE=86399 x", "",
       "ORVANE"},
      {"digit-following character skipped", prefix + "5hello", prefix + "5 ello"},
      {"no digits", "QQ0ABC>QQ0XYZ,KESTRELIS,STORE=hello", "QQ0ABC>QQ0XYZ, KESTRELIS, STORE=0 ello",
       "", "KESTRELIS"},
      {"empty message", prefix + "19", prefix + "19 "},
      {"tab and line feed", prefix + "0 a\tb\n", prefix + "0 a\tb\n"},
      {"percent doubled on air, single on GUI", prefix + "0 50% off", prefix + "0 50% off",
       prefix + "0 50%% off"},
      {"backslash doubled on air and GUI", prefix + "0 a\\b", prefix + "0 a\\\\b",
       prefix + "0 a\\\\b"},
      {"a split percent pair is shown, not formatted", prefix + "1%s%n", prefix + "1 %s%n",
       prefix + "1%%s%%n"},
      {"160 characters", longest, longest},
  };
  for (const Message& m : messages) {
    run({m.name,
         m.request,
         {"Transmission to " + m.satellite + "\n"},
         {"Transmitted: " + m.shown},
         message_header,
         with_zero(m.on_air.empty() ? m.request : m.on_air)});
  }
}

TEST(GuiRequests, RefusedRequestsPrintTheirLineAndSendNothing) {
  const Case cases[] = {
      {"trailing space", "cmd:list ", {"Unknown command \"list \""}},
      {"empty command", "cmd:", {"Unknown command \"\""}},
      {"command of 20 characters", "cmd:" + std::string(20, 'x'), {"Command string too long\n"}},
      {"capital prefix", "CMD:list", parse_failure},
      {"empty frame", "", parse_failure},
      {"'>' first", ">QQ0XYZ, Kestrelis, STORE=0 m", parse_failure},
      {"'>' beyond 10 characters", "QQ0ABCDEFGH>QQ0XYZ, Kestrelis, STORE=0 m", parse_failure},
      {"one comma", "QQ0ABC>QQ0XYZ, Kestrelis STORE=0 m", parse_failure},
      {"no '='", "QQ0ABC>QQ0XYZ, Kestrelis, STORE 0 m", parse_failure},
      {"name case", "QQ0ABC>QQ0XYZ, KestreliS, STORE=0 m", parse_failure},
      {"keyword", "QQ0ABC>QQ0XYZ, Kestrelis, store=0 m", parse_failure},
      {"21 digits", prefix + std::string(21, '1') + " m", parse_failure},
      {"source of 9", "QQ0ABCDEF>QQ0XYZ, Kestrelis, STORE=0 m", {"Improper callsign\n"}},
      {"destination of 9", "QQ0ABC>QQ0XYZABC, Kestrelis, STORE=0 m", {"Improper callsign\n"}},
      {"name of 11", "QQ0ABC>QQ0XYZ, KestrelisXY, STORE=0 m", {"Improper cubesat name\n"}},
      {"source of spaces", "  >QQ0XYZ, Kestrelis, STORE=0 m", {"Improper callsign\n"}},
      {"empty name", "QQ0ABC>QQ0XYZ,  , STORE=0 m", {"Improper cubesat name\n"}},
      {"delay 86400", prefix + "86400 m", {"Maximum relay delay is 24 hours\n"}},
      {"delay of 11 digits", prefix + "99999999999 m", {"Maximum relay delay is 24 hours\n"}},
      {"message of 181",
       prefix + "0 " + std::string(181, 'm'),
       {"Message length exceeds limit of 180 bytes"}},
      {"byte 0xE9", prefix + "0 caf\xE9", {"Non-ASCII characters in message\n"}},
      {"byte 0x7F", prefix + "0 a\x7F", {"Non-ASCII characters in message\n"}},
      {"161 characters",
       prefix + "0 " + std::string(161 - prefix.size() - 2, 'm'),
       {"Maximum packet size is reached (201/200 bytes)\n"}},
      {"source NOCALL",
       "NOCALL>QQ0XYZ, Kestrelis, STORE=0 m",
       {"Transmission to Kestrelis\n", "Call signs error\n"},
       {"Call signs error. Check your call sign in config.ini."}},
  };
  for (const Case& c : cases) run(c);
}

}  // namespace
