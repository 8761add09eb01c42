// The real kestrelis-tnc between a modem that plays a bit stream over UDP
// and a GUI that reads KISS frames over TCP.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "common/kiss_reader.hpp"
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

// The next `count` GUI frames on `fd`, without their command byte; fewer when
// a receive times out.
std::vector<std::string> gui_frames(int fd, size_t count) {
  KissReader reader;
  std::vector<std::string> frames;
  std::array<uint8_t, 4096> buffer{};
  for (long n = 0; frames.size() < count && (n = stream_receive(fd, buffer)) > 0;) {
    kiss_read(reader, std::span(buffer).first(static_cast<size_t>(n)),
              [&](std::span<const uint8_t> f) { frames.emplace_back(f.begin(), f.end()); });
  }
  return frames;
}

Bytes frame_for(uint8_t port, const Bytes& payload) {
  return build_frame(csp_header_bytes({.source = satellite_address, .destination_port = port}),
                     payload);
}

TEST(ReceiveLoopback, ModemStreamReachesTheGuiAndTheLargestDatagramIsExaminedWhole) {
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

  // Telemetry word (satellite, version, type), record size, members, label.
  const struct {
    unsigned word;
    size_t size, members;
    std::string label;
  } layouts[] = {
      {0x1028, 140, 64, "Telemetry"},     {0x1030, 135, 66, "Telemetry"},
      {0x103A, 140, 68, "Beacon"},        {0x1040, 140, 66, "Telemetry"},
      {0x1048, 140, 67, "Telemetry"},     {0x3008, 95, 53, "Telemetry"},
      {0x3010, 97, 55, "Telemetry"},      {0x301A, 97, 55, "Beacon"},
      {0x3058, 72, 42, "Alt. Telemetry"},
  };
  std::mt19937 rng(20240611);
  std::vector<Bytes> frames;
  for (const auto& l : layouts) {
    Bytes record(l.size);
    for (auto& b : record) b = static_cast<uint8_t>(rng());
    // 250 ms, 1700000000 s
    const Bytes head = {uint8_t(l.word >> 8), uint8_t(l.word), 0x00, 0xFA, 0x65, 0x53, 0xF1, 0x00};
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

  const std::vector<std::string> gui_data = gui_frames(gui.fd(), 2 * std::size(layouts) + 2);
  ASSERT_EQ(gui_data.size(), 2 * std::size(layouts) + 2) << tnc.output();
  const auto message = [&](size_t i) {  // without the "P[DD/MM hh:mm:ss.mmm] " stamp
    const std::string& f = gui_data[i];
    return f.starts_with("P[") && f.size() >= 22 ? f.substr(22) : "not a message: " + f;
  };
  for (size_t i = 0; i < std::size(layouts); ++i) {
    const auto& l = layouts[i];
    SCOPED_TRACE(testing::Message() << "telemetry word " << l.word);
    EXPECT_EQ(message(2 * i), "Received: " + l.label + " 14/11 22:13:20.250");
    const std::string& json = gui_data[2 * i + 1];
    EXPECT_TRUE(json.starts_with("d\xC4\x03{\"tlm_id\":\"" + std::to_string(l.word) + "\","))
        << json;
    EXPECT_TRUE(json.ends_with(",\"UNIX\":\"1700000000.250000\"}")) << json;
    size_t members = 0;
    for (size_t at = json.find("\":\""); at != std::string::npos; at = json.find("\":\"", at + 1)) {
      ++members;
    }
    EXPECT_EQ(members, l.members);
  }
  EXPECT_EQ(gui_data[18], "P" + std::string(digipeated.begin(), digipeated.end()));
  EXPECT_EQ(message(19), "Received: Hi !");
  EXPECT_EQ(tnc.output().find("ReedSolomon: ERROR"), std::string::npos) << tnc.output();

  // A frame in the last bytes of a datagram of 65,507 bytes is still found.
  Bytes datagram(65507 - list_frame.size() - 1, 0x00);
  datagram.insert(datagram.end(), list_frame.begin(), list_frame.end());
  datagram.push_back(0x00);
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
