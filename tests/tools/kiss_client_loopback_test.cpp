// The real kestrelis-kiss against a stand-in TNC on a loopback port.

#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "common/kiss_frames.hpp"
#include "kiss/client.hpp"
#include "platform/net.hpp"
#include "support/process.hpp"
#include "wire/kiss.hpp"

namespace kestrelis {

namespace {

std::vector<uint8_t> frame_of(std::string_view data) {
  return kiss_encode({reinterpret_cast<const uint8_t*>(data.data()), data.size()});
}

const std::string text_kind(1, static_cast<char>(gui_text_kind));
const std::string telemetry_kind(gui_telemetry_prefix.begin(), gui_telemetry_prefix.end());

Socket accept_within(int listener, int timeout_ms) {
  return wait_readable(listener, timeout_ms) ? tcp_accept(listener) : Socket();
}

TEST(KissClientLoopback, ShowsFramesSendsLinesAndReconnects) {
  NetResult server = tcp_listen("127.0.0.1", 0);
  ASSERT_EQ(server.failed_at, NetStep::none);
  std::string port = std::to_string(local_port(server.socket.fd()));
  ChildProcess client({KESTRELIS_KISS_PATH, "--port", port, "--no-stdin", "--exit-after", "20",
                       "--send", "cmd:list", "--send", "QQ0ABC>QQ0XYZ, Kestrelis, STORE=0 hi"},
                      {});

  Socket tnc = accept_within(server.socket.fd(), 5000);
  ASSERT_TRUE(tnc.valid());
  for (const std::string& data :
       {text_kind + "[05/12 14:03:07.412] Received: hello", text_kind + "Hi",
        telemetry_kind + R"({"tlm_id":"4138","unix_s":"0"})"}) {
    ASSERT_EQ(send_all(tnc.fd(), frame_of(data)), 0);
  }
  KissDeframer deframer(tnc_frame_capacity);
  std::vector<std::string> lines;
  ASSERT_EQ(set_receive_timeout(tnc.fd(), 5000), 0);
  while (lines.size() < 2) {
    std::array<uint8_t, 256> buffer{};
    long n = stream_receive(tnc.fd(), buffer);
    ASSERT_GT(n, 0);
    read_kiss_frames(deframer, std::span(buffer).first(static_cast<size_t>(n)),
                     [&](std::span<const uint8_t> d) { lines.emplace_back(d.begin(), d.end()); });
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"cmd:list", "QQ0ABC>QQ0XYZ, Kestrelis, STORE=0 hi"}));
  EXPECT_TRUE(
      client.wait_for_output("TELEMETRY sat=1 v=5 beacon, 1970-01-01 00:00:00.000 UTC", 5000));
  tnc.close();
  Socket again = accept_within(server.socket.fd(), 5000);
  EXPECT_TRUE(again.valid());
  EXPECT_TRUE(client.wait_for_output(
      "closed by the TNC; reconnecting every second\nLINK connected to 127.0.0.1:" + port, 5000));
  client.stop(SIGTERM, 5000);
  const std::string expected = "LINK connected to 127.0.0.1:" + port +
                               "\n"
                               "SENT cmd:list\n"
                               "SENT QQ0ABC>QQ0XYZ, Kestrelis, STORE=0 hi\n"
                               "TEXT [05/12 14:03:07.412] Received: hello\n"
                               "PACKET 2 bytes\n";
  EXPECT_NE(client.output().find(expected), std::string::npos) << client.output();
}

// Lines typed by the operator: CR LF ends a line too; empty lines and lines
// longer than the TNC takes are not sent.
TEST(KissClientLines, SplitAndRefusedLines) {
  LineSplitter s;
  EXPECT_EQ(split_input_lines(s, std::vector<uint8_t>{'a', '\r', '\n', 'b'}),
            std::vector<std::string>{"a"});
  EXPECT_EQ(split_input_lines(s, std::vector<uint8_t>{'c', '\n', '\n'}),
            (std::vector<std::string>{"bc", ""}));
  EXPECT_NE(line_refusal(""), "");
  EXPECT_EQ(line_refusal(std::string(199, 'x')), "");
  EXPECT_NE(line_refusal(std::string(200, 'x')), "");
}

}  // namespace

}  // namespace kestrelis
