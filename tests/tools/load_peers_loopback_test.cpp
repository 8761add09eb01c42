// The load tool's stand-ins for rigctld and the GUI, and the tool as a whole.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "gui/kiss.hpp"
#include "load/load_peers.hpp"
#include "load/load_stream.hpp"
#include "platform/clock.hpp"
#include "radio/frame.hpp"

namespace {

struct Exchange {
  NetStep failed_at = NetStep::none;
  int error = 0;
  std::string answer;
};

// What the TNC does for one keying command: connect, send, end the sending
// direction, read the answer for 300 ms.
Exchange send_command(uint16_t port, const std::string& command) {
  Exchange e;
  NetResult c = tcp_connect("127.0.0.1", std::to_string(port).c_str(), 500);
  e.failed_at = c.failed_at;
  e.error = c.error;
  if (c.failed_at != NetStep::none) return e;
  (void)send_all(c.socket.fd(), {reinterpret_cast<const uint8_t*>(command.data()), command.size()});
  shutdown_send(c.socket.fd());
  uint8_t buffer[64];
  while (wait_readable(c.socket.fd(), 300)) {
    const long n = stream_receive(c.socket.fd(), buffer);
    if (n <= 0) break;
    e.answer.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
  }
  return e;
}

TEST(LoadPeersLoopback, FakeRigFaultModes) {
  const struct {
    RigMode mode;
    NetStep failed_at;
    int error;
    std::string answer;
    bool ptt_after_on;
    uint64_t on_commands;
  } cases[] = {
      {RigMode::answering, NetStep::none, 0, "RPRT 0\n", true, 1},
      {RigMode::refusing, NetStep::none, 0, "RPRT -1\n", false, 1},
      {RigMode::never_reading, NetStep::none, 0, "", false, 0},
      {RigMode::closed, NetStep::connect, ECONNREFUSED, "", false, 0},
      {RigMode::unresponsive, NetStep::connect, ETIMEDOUT, "", false, 0},
  };
  FakeRig rig;
  ASSERT_TRUE(start_fake_rig(rig));
  for (const auto& c : cases) {
    SCOPED_TRACE(rig_mode_name(c.mode));
    set_rig_mode(rig, c.mode);
    ASSERT_EQ(rig_mode(rig), c.mode);
    const RigState before = rig_state(rig);
    const Exchange on = send_command(rig.port, "T 1");
    EXPECT_EQ(on.failed_at, c.failed_at);
    EXPECT_EQ(on.error, c.error);
    EXPECT_EQ(on.answer, c.answer);
    sleep_ms(50);
    EXPECT_EQ(rig_state(rig).ptt, c.ptt_after_on);
    EXPECT_EQ(rig_state(rig).on_commands - before.on_commands, c.on_commands);
    set_rig_mode(rig, RigMode::answering);
    EXPECT_EQ(send_command(rig.port, "T 0").answer, "RPRT 0\n");
    EXPECT_FALSE(rig_state(rig).ptt);
  }
  // Vanishing: the on command is answered, then nothing listens.
  set_rig_mode(rig, RigMode::vanish_after_on);
  EXPECT_EQ(send_command(rig.port, "T 1").answer, "RPRT 0\n");
  for (int i = 0; i < 100 && rig_mode(rig) != RigMode::closed; ++i) sleep_ms(5);
  EXPECT_TRUE(rig_state(rig).ptt);
  EXPECT_EQ(send_command(rig.port, "T 0").error, ECONNREFUSED);
  stop_fake_rig(rig);
}

TEST(LoadPeers, TallyCountsEachNumberedPacketAndSkipsOtherFrames) {
  GuiTally tally;
  KissReader reader;
  std::vector<uint8_t> stream;
  auto add = [&](std::vector<uint8_t> data) {
    const auto frame = kiss_encode(data);
    stream.insert(stream.end(), frame.begin(), frame.end());
  };
  // The GUI's view of a packet: 0x50 and the payload between CSP header and CRC.
  auto packet = [](uint32_t seq) {
    auto frame = load_frame('a', seq, 20);
    apply_randomizer(std::span(frame).subspan(frame_prefix_size));
    std::vector<uint8_t> data = {0x50};
    data.insert(data.end(), frame.begin() + 11, frame.end() - 36);
    return data;
  };
  for (uint32_t seq : {10u, 11u, 11u, 13u}) add(packet(seq));
  add({'P', '[', 'x', ']'});
  gui_read_into(reader, std::span(stream).first(7), tally);
  gui_read_into(reader, std::span(stream).subspan(7), tally);
  EXPECT_EQ(tally_packets(tally), 4u);
  EXPECT_EQ(tally.broken_packets, 0u);
  const SeqCount seqs = count_seqs(tally, 10, 5);
  EXPECT_EQ(seqs.missing, 2u);
  EXPECT_EQ(seqs.duplicated, 1u);
  EXPECT_EQ(seqs.first_missing, (std::vector<uint32_t>{12, 14}));
}

#ifdef KESTRELIS_LOAD_PATH
TEST(LoadToolLoopback, ShortNoiseRunAccountsForEveryPlantedFrame) {
  const std::string command = std::string(KESTRELIS_LOAD_PATH) +
                              " --tnc " KESTRELIS_TNC_PATH
                              " --quick --sections b --bits 2e6 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string report;
  char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) report += buffer;
  EXPECT_EQ(::pclose(pipe), 0) << report;
  EXPECT_NE(report.find("(b) planted frames received exactly once: 19 of 19"), std::string::npos)
      << report;
  EXPECT_NE(report.find("TNC ended on SIGTERM: ended by SIGTERM"), std::string::npos) << report;
}
#endif

}  // namespace
