// The downlink: the modem's bit stream through a Station with sinks, and the
// real kestrelis-tnc between a modem that plays a bit stream over UDP and a
// GUI that reads KISS frames over TCP.

#include "app/downlink.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "radio/test_bit_stream.hpp"
#include "support/station_capture.hpp"
#include "support/tnc_process.hpp"
#include "wire/csp.hpp"
#include "wire/frame.hpp"
#include "wire/kiss.hpp"

namespace kestrelis {

namespace {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

const std::string detected = "-----FRAME DETECTED-----\r\n";
const std::string self_generated = "Received self-generated packet\n";

// What the console shows for a frame of a codeword of `n` bytes that `corrected`
// bytes were corrected in (-1: uncorrectable), then `dispatched`.
Lines frame_lines(size_t n, int corrected, const Lines& dispatched) {
  if (corrected < 0) return {detected, "ReedSolomon: ERROR\r\n"};
  Lines lines = {detected,
                 "ReedSolomon: OK (Corrected " + std::to_string(corrected) + " bytes)\r\n",
                 "Received " + std::to_string(n) + " bytes\r\n", "-------FRAME END--------\r\n"};
  lines.insert(lines.end(), dispatched.begin(), dispatched.end());
  return lines;
}

Bytes frame_for(uint8_t port, const Bytes& payload, uint8_t source = satellite_address) {
  return build_frame(csp_header_bytes({.source = source, .destination_port = port}), payload);
}

// Feeds `stream` in pieces of `piece` bytes (0: random sizes, seed 7).
Lines receive(StationCapture& out, const Bytes& stream, size_t piece = 2048) {
  FrameDetector detector;
  std::mt19937 rng(7);
  for (size_t at = 0; at < stream.size();) {
    const size_t n = std::min(piece != 0 ? piece : 1 + rng() % 60, stream.size() - at);
    receive_datagram(out.station, detector, std::span(stream).subspan(at, n));
    at += n;
  }
  return out.console();
}

TEST(Downlink, FrameAtEveryBitPhaseInAnyPiecesWithTheByteAfterIt) {
  StationCapture alone;
  EXPECT_EQ(receive(alone, list_frame), Lines{detected});
  for (size_t phase = 0; phase < 8; ++phase) {
    for (size_t piece : {1u, 3u, 0u, 2048u}) {
      SCOPED_TRACE(testing::Message() << "phase " << phase << ", pieces of " << piece);
      StationCapture out;
      EXPECT_EQ(receive(out, stream_of({list_frame}, phase), piece),
                frame_lines(41, 0, {self_generated}));
    }
  }
}

// What reaches the console and the GUI for each kind of packet. GUI data are
// compared over the length of the expected text.
TEST(Downlink, EachOutcomeReachesTheConsoleAndTheGui) {
  Bytes damaged = list_frame;
  for (size_t i = 7; i < 7 + 34; i += 2) damaged[i] = static_cast<uint8_t>(~damaged[i]);
  StationCapture lost;
  EXPECT_EQ(receive(lost, stream_of({damaged}, 0)), frame_lines(41, -1, {}));

  // A beacon of satellite 3, version 11, 250 ms past 1700000000 s, cut short.
  const Bytes beacon = {0x30, 0x5A, 0x00, 0xFA, 0x65, 0x53, 0xF1, 0x00};
  const std::string time = "Alt. Beacon 14/11 22:13:20.250";
  const std::string json = "d\xC4\x03{";
  const struct {
    const char* name;
    Bytes frame;
    Lines console;  // after "-------FRAME END--------"
    Lines gui;
  } cases[] = {
      {"short beacon",
       frame_for(telemetry_port, beacon),
       {"3\n", time + "\r\n",
        "Short telemetry record: 8 of 72 bytes, missing values shown as 0\r\n"},
       {"Received: " + time,
        json + "\"tlm_id\":\"12378\",\"unix_only_ms\":\"250\",\"unix_s\":\"1700000000\","}},
      {"unknown satellite",
       frame_for(telemetry_port, {0x20, 0x08}),
       {"2\n", "UNKNOWN SATELLITE! CANNOT UPLOAD TLM\n"},
       {}},
      {"unknown version",
       frame_for(telemetry_port, {0x30, 0x60}),
       {"3\n", "Unknown TLM version\n"},
       {json + "}"}},
      {"digipeater packet",
       frame_for(digipeater_port, {0, 'A', 0xC0}),
       {"Digipeater packet\r\n"},
       {std::string("P\0A\xC0", 4)}},
      {"digipeater message",
       frame_for(digipeater_message_port, {0, 3, '5', '%', 's'}),
       {"Digipeater message \r\n"},
       {"Received: 5%s"}},
      {"message too short",
       frame_for(digipeater_message_port, {3}),
       {"Dropped port 29 packet of 1 bytes: too short\r\n"},
       {}},
      {"unknown port", frame_for(2, {}), {"ERROR: Unknown CSP Port 2\r\n"}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    StationCapture out;
    EXPECT_EQ(receive(out, stream_of({c.frame}, 5), 0),
              frame_lines(c.frame.size() - frame_prefix_size, 0, c.console));
    Lines gui = out.gui();
    for (size_t i = 0; i < std::min(gui.size(), c.gui.size()); ++i) gui[i].resize(c.gui[i].size());
    EXPECT_EQ(gui, c.gui);
  }
}

// The next `count` GUI frames on `fd`, without their command byte; fewer when
// a receive times out.
std::vector<std::string> gui_frames(int fd, size_t count) {
  KissDeframer deframer(4096);
  std::vector<std::string> frames;
  std::array<uint8_t, 4096> buffer{};
  for (long n = 0; frames.size() < count && (n = stream_receive(fd, buffer)) > 0;) {
    for (uint8_t b : std::span(buffer).first(static_cast<size_t>(n))) {
      if (const KissStep step = kiss_receive_byte(deframer, b); step.frame) {
        frames.emplace_back(step.frame->begin(), step.frame->end());
      }
    }
  }
  return frames;
}

std::string config(unsigned short receive_port, unsigned short kiss_port) {
  return "[modem]\nGR_ReceivePort = " + std::to_string(receive_port) +
         "\nGR_TransmitPort = " + std::to_string(free_udp_port()) +
         "\n[KISS]\nKISS_Port = " + std::to_string(kiss_port) + "\n[rigctld]\nAddress =\n";
}

TEST(DownlinkLoopback, ModemStreamReachesTheGuiAndTheLargestDatagramIsExaminedWhole) {
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

  // Telemetry word (satellite, version, type), record size, label.
  const struct {
    unsigned word;
    size_t size;
    std::string label;
  } layouts[] = {
      {0x1028, 140, "Telemetry"}, {0x1030, 135, "Telemetry"}, {0x103A, 140, "Beacon"},
      {0x1040, 140, "Telemetry"}, {0x1048, 140, "Telemetry"}, {0x3008, 95, "Telemetry"},
      {0x3010, 97, "Telemetry"},  {0x301A, 97, "Beacon"},     {0x3058, 72, "Alt. Telemetry"},
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

TEST(DownlinkLoopback, BusyPortEndsTheProcessWithStatusOne) {
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

}  // namespace kestrelis
