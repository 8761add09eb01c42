// The real kestrelis-tnc between a modem that plays a bit stream over UDP
// and a GUI that reads KISS frames over TCP.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "gui/kiss.hpp"
#include "packet/csp.hpp"
#include "platform/net.hpp"
#include "radio/frame.hpp"
#include "radio/test_bit_stream.hpp"
#include "support/tnc_process.hpp"

namespace {

using Bytes = std::vector<uint8_t>;

std::string config(unsigned short receive_port, unsigned short kiss_port) {
  return "[modem]\nGR_ReceivePort = " + std::to_string(receive_port) +
         "\nGR_TransmitPort = " + std::to_string(free_udp_port()) +
         "\n[KISS]\nKISS_Port = " + std::to_string(kiss_port) + "\n[rigctld]\nAddress =\n";
}

// The data of the next KISS frame on `fd`, unescaped, without its command
// byte, of any size. Empty when the receive times out.
std::string next_frame(int fd, Bytes& pending) {
  for (;;) {
    const auto open = std::find(pending.begin(), pending.end(), FEND);
    const auto close = open == pending.end() ? open : std::find(open + 1, pending.end(), FEND);
    if (close != pending.end() && close - open >= 2) {
      std::string data;
      for (auto i = open + 2; i < close; ++i) {
        uint8_t b = *i;
        if (b == FESC && i + 1 < close) b = *++i == TFEND ? FEND : FESC;
        data.push_back(static_cast<char>(b));
      }
      pending.erase(pending.begin(), close + 1);
      return data;
    }
    if (close != pending.end()) {
      pending.erase(pending.begin(), close);  // a FEND that opens nothing
      continue;
    }
    std::array<uint8_t, 4096> buffer{};
    const long n = stream_receive(fd, buffer);
    if (n <= 0) return {};
    pending.insert(pending.end(), buffer.begin(), buffer.begin() + n);
  }
}

Bytes frame_for(uint8_t port, const Bytes& payload) {
  return build_frame(csp_header_bytes({.source = satellite_address, .destination_port = port}),
                     payload);
}

TEST(ReceiveLoopback, ModemStreamReachesTheGui) {
  const unsigned short receive_port = free_udp_port();
  const unsigned short kiss_port = free_tcp_port();
  TncProfile profile(config(receive_port, kiss_port));
  ChildProcess tnc = start_tnc(profile.home());
  ASSERT_TRUE(tnc.wait_for_output("Listening for GNURadio on UDP", 5000)) << tnc.output();
  ASSERT_TRUE(tnc.wait_for_output("Waiting for GUI client", 5000)) << tnc.output();
  Socket gui = tcp_connect("127.0.0.1", std::to_string(kiss_port).c_str(), 2000).socket;
  ASSERT_TRUE(gui.valid());
  ASSERT_EQ(set_receive_timeout(gui.fd(), 5000), 0);
  ASSERT_TRUE(tnc.wait_for_output("GUI connected.\n", 5000)) << tnc.output();

  const struct {
    unsigned sat, version, type;
    size_t size, members;
    std::string label;
  } layouts[] = {
      {1, 5, 0, 140, 64, "Telemetry"},      {1, 6, 0, 135, 66, "Telemetry"},
      {1, 7, 2, 140, 68, "Beacon"},         {1, 8, 0, 140, 66, "Telemetry"},
      {1, 9, 0, 140, 67, "Telemetry"},      {3, 1, 0, 95, 53, "Telemetry"},
      {3, 2, 0, 97, 55, "Telemetry"},       {3, 3, 2, 97, 55, "Beacon"},
      {3, 11, 0, 72, 42, "Alt. Telemetry"},
  };
  std::mt19937 rng(20240611);
  std::vector<Bytes> frames;
  for (const auto& l : layouts) {
    Bytes record(l.size);
    for (auto& b : record) b = static_cast<uint8_t>(rng());
    const unsigned word = (l.sat << 12) | (l.version << 3) | l.type;
    const Bytes head = {static_cast<uint8_t>(word >> 8),
                        static_cast<uint8_t>(word),
                        0x00,
                        0xFA,
                        0x65,
                        0x53,
                        0xF1,
                        0x00};  // 250 ms, 1700000000 s
    std::copy(head.begin(), head.end(), record.begin());
    frames.push_back(frame_for(telemetry_port, record));
  }
  const Bytes digipeated = {0x00, 0xC0, 0xDB, 0xDC, 0x41, 0xC0};
  frames.push_back(frame_for(digipeater_port, digipeated));
  frames.push_back(frame_for(digipeater_message_port, {0x00, 0x03, 'H', 'i', ' ', '!', 0x00, 'x'}));
  for (Bytes& f : frames) {
    for (int k = 0; k < 3; ++k) f[frame_prefix_size + rng() % (f.size() - 7)] ^= 0x81;
  }

  // Back to back at a random bit offset, in datagrams of random sizes.
  const Bytes stream = stream_of(frames, rng() % 8);
  Socket modem = udp_open();
  for (size_t at = 0, n = 0; at < stream.size(); at += n) {
    n = std::min<size_t>(1 + rng() % 300, stream.size() - at);
    ASSERT_EQ(
        datagram_send(modem.fd(), {0x7F000001, receive_port}, std::span(stream).subspan(at, n)), 0);
  }

  Bytes pending;
  const auto next_message = [&] {  // without the "P[DD/MM hh:mm:ss.mmm] " stamp
    const std::string data = next_frame(gui.fd(), pending);
    return data.starts_with("P[") && data.size() >= 22 ? data.substr(22) : "not a message: " + data;
  };
  for (const auto& l : layouts) {
    SCOPED_TRACE(testing::Message() << "satellite " << l.sat << ", version " << l.version);
    EXPECT_EQ(next_message(), "Received: " + l.label + " 14/11 22:13:20.250");
    const std::string json = next_frame(gui.fd(), pending);
    const unsigned word = (l.sat << 12) | (l.version << 3) | l.type;
    EXPECT_TRUE(json.starts_with("d\xC4\x03{\"tlm_id\":\"" + std::to_string(word) + "\",")) << json;
    EXPECT_TRUE(json.ends_with(",\"UNIX\":\"1700000000.250000\"}")) << json;
    size_t members = 0;
    for (size_t at = json.find("\":\""); at != std::string::npos; at = json.find("\":\"", at + 1)) {
      ++members;
    }
    EXPECT_EQ(members, l.members);
  }
  EXPECT_EQ(next_frame(gui.fd(), pending), "P" + std::string(digipeated.begin(), digipeated.end()));
  EXPECT_EQ(next_message(), "Received: Hi !");
  EXPECT_EQ(tnc.output().find("ReedSolomon: ERROR"), std::string::npos) << tnc.output();
}

TEST(ReceiveLoopback, LargestDatagramIsExaminedWhole) {
  const unsigned short receive_port = free_udp_port();
  TncProfile profile(config(receive_port, free_tcp_port()));
  ChildProcess tnc = start_tnc(profile.home());
  ASSERT_TRUE(tnc.wait_for_output("Listening for GNURadio on UDP", 5000)) << tnc.output();
  // The frame ends in the last bytes of a datagram of 65,507 bytes.
  const Bytes frame = build_frame(std::array<uint8_t, 4>{0xB2, 0x13, 0x8E, 0x00}, Bytes{0x4C});
  Bytes datagram(65507 - frame.size() - 1, 0x00);
  datagram.insert(datagram.end(), frame.begin(), frame.end());
  datagram.push_back(0x00);
  Socket modem = udp_open();
  ASSERT_EQ(datagram_send(modem.fd(), {0x7F000001, receive_port}, datagram), 0);
  EXPECT_TRUE(tnc.wait_for_output("Received self-generated packet\n", 5000)) << tnc.output();
}

TEST(ReceiveLoopback, BusyPortEndsTheProcessWithStatusOne) {
  NetResult taken = udp_bind("127.0.0.1", 0, 0);
  ASSERT_EQ(taken.failed_at, NetStep::none);
  TncProfile profile(config(local_port(taken.socket.fd()), free_tcp_port()));
  ChildProcess tnc = start_tnc(profile.home());
  const int status = tnc.wait_exit(5000);
  ASSERT_TRUE(WIFEXITED(status)) << tnc.output();
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_NE(tnc.output().find("Bind failed with error code : 98"), std::string::npos);
}

}  // namespace
