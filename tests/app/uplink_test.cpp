// The uplink: requests from the GUI through a Station with sinks, a GUI
// thread that a stalled client cannot hold, and the real binary between a
// KISS client, a UDP listener in the modem's place and a stand-in rigctld.

#include "app/uplink.hpp"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "packet/packet_check.hpp"
#include "platform/clock.hpp"
#include "radio/test_bit_stream.hpp"
#include "support/loopback_peers.hpp"
#include "support/station_capture.hpp"
#include "support/tnc_process.hpp"
#include "wire/frame.hpp"

namespace kestrelis {

namespace {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

constexpr int64_t ms = 1'000'000;
constexpr size_t preamble = 50;
constexpr size_t postamble = 20;

// The payload of an uplink frame as text, read back by the receive stages;
// "no packet" when the frame does not check.
std::string uplink_payload(const Bytes& frame) {
  if (frame.size() < frame_prefix_size) return "no packet";
  const DecodedCodeword word = decode_codeword(std::span(frame).subspan(frame_prefix_size));
  if (word.corrected != 0) return "no packet";
  const PacketCheck check = check_packet(word.packet());
  if (check.verdict != PacketVerdict::accepted) return "no packet";
  return {check.payload.begin(), check.payload.end()};
}

TncConfig shell_config(uint16_t modem_port, int verbose_level) {
  TncConfig config;
  config.GR_TransmitPort = modem_port;
  config.PreambleLength = 0;
  config.CallFrom = "QQ0ABC";
  config.VerboseLevel = verbose_level;
  return config;
}

TEST(Uplink, RequestsAreReportedConfirmedAndSent) {
  struct Case {
    const char* name;
    std::string request;
    Lines console;
    Lines gui;
    std::string payload;  // empty: nothing sent
  };
  const std::string to_nocall = "QQ0ABC>NOCALL,Kestrelis,STORE=0 m";
  const Case cases[] = {
      {"refused", "cmd:bogus", {"Unknown command \"bogus\""}, {}, ""},
      {"command", "cmd:list", {"Sending 48 bytes to GNURadio\r\n"}, {}, "L"},
      {"destination NOCALL",
       to_nocall,
       {"Transmission to Kestrelis\n", "Sending 81 bytes to GNURadio\r\n"},
       {"Check the destination call sign in the field below.",
        "Transmitted: QQ0ABC>NOCALL, Kestrelis, STORE=0 m"},
       to_nocall + '\0'},
      {"source NOCALL",
       "NOCALL>QQ0XYZ, Kestrelis, STORE=0 m",
       {"Transmission to Kestrelis\n", "Call signs error\n"},
       {"Call signs error. Check your call sign in config.ini."},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ModemListener modem;
    StationCapture out(shell_config(modem.port(), 2));
    open_transmit_socket(out.station.transmitter);
    handle_gui_frame(out.station, Bytes(c.request.begin(), c.request.end()));
    EXPECT_EQ(out.console(), c.console);
    EXPECT_EQ(out.gui(), c.gui);
    const auto datagram = modem.receive(c.payload.empty() ? 0 : 1000);
    ASSERT_EQ(datagram.has_value(), !c.payload.empty());
    if (datagram) {
      EXPECT_EQ(uplink_payload(datagram->bytes), c.payload);
    }
  }
}

// The GUI thread is held inside its first transmission (at its level-2 line)
// while another thread sends to a GUI that has stopped reading.
TEST(UplinkThreads, AGuiThatStopsReadingIsDroppedAfterTheSendTimeOut) {
  std::mutex mutex;
  std::condition_variable changed;
  int transmissions = 0;
  bool released = false;
  Lines lines;
  auto count = [&](const std::string& line) {
    std::lock_guard lock(mutex);
    return std::ranges::count(lines, line);
  };
  ModemListener modem;
  Station station(shell_config(modem.port(), 5), Console{.sink = [&](std::string_view text) {
                    std::unique_lock lock(mutex);
                    lines.emplace_back(text.starts_with("[") ? text.substr(21) : text);
                    if (!text.ends_with("GNURadio\r\n")) return;
                    ++transmissions;
                    changed.notify_all();
                    changed.wait(lock, [&] { return released; });
                  }});
  open_transmit_socket(station.transmitter);
  Socket listener = tcp_listen("127.0.0.1", 0).socket;
  std::thread gui_thread([&] { serve_gui_client(station, tcp_accept(listener.fd())); });
  KissClient gui(local_port(listener.fd()), 2000);
  ASSERT_TRUE(gui.connected());
  // The first request holds the GUI thread while the second waits behind it.
  gui.send_frame("cmd:list");
  gui.send_frame("cmd:count");
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(5), [&] { return transmissions; }));
  }
  const Bytes data(300, 0x41);
  const int64_t deadline = monotonic_ms() + 20000;
  const std::string failure = "GUI communicatino failed (Error 11)\n";
  while (count(failure) == 0 && monotonic_ms() < deadline) send_to_gui(station.gui, data);
  EXPECT_EQ(count(failure), 1);
  {
    std::lock_guard lock(mutex);
    released = true;
  }
  changed.notify_all();
  gui_thread.join();  // the connection was given up
  // The request that waited was never acted on; the end is the failed send's.
  EXPECT_EQ(transmissions, 1);
  EXPECT_EQ(count("recv failed with error: 11\n"), 1);
  EXPECT_EQ(count("GUI disconnected\n"), 0);
  // Reset, not a FIN queued behind the megabytes the GUI left unread: the GUI
  // learns at once that it was dropped.
  pollfd p{gui.fd(), POLLRDHUP, 0};
  ASSERT_EQ(::poll(&p, 1, 1000), 1);
  EXPECT_NE(p.revents & (POLLHUP | POLLERR), 0);
  send_to_gui(station.gui, data);
  EXPECT_EQ(count("Cannot send data to GUI (GUI not connected)\n"), 1);
}

// A running TNC wired to `modem` and a rigctld at `rig_port`, with a GUI connected.
struct RunningTnc {
  RunningTnc(const ModemListener& modem, uint16_t rig_port, int key_up_ms, int key_down_ms)
      : kiss_port(free_tcp_port()),
        profile(tnc_config_text(kiss_port, modem.port(), rig_port, key_up_ms, key_down_ms)),
        tnc(start_tnc(profile.home())),
        gui(kiss_port, 5000) {}
  uint16_t kiss_port;
  TncProfile profile;
  ChildProcess tnc;
  KissClient gui;
};

Bytes framed(const Bytes& frame) {
  Bytes block(preamble + frame.size() + postamble, 0xAA);
  std::copy(frame.begin(), frame.end(), block.begin() + preamble);
  return block;
}

TEST(UplinkLoopback, ListIsKeyedSentAndUnkeyedInOrderWithItsWaits) {
  FakeRigctld rig;
  ModemListener modem;
  RunningTnc station(modem, rig.port(), 200, 300);
  ASSERT_TRUE(station.gui.connected());
  station.gui.send_frame("cmd:list");
  auto datagram = modem.receive(5000);
  ASSERT_TRUE(datagram);
  EXPECT_EQ(datagram->bytes, framed(list_frame));
  // The start-up check connects without a command, then on and off.
  ASSERT_TRUE(rig.wait_for_commands(3, 5000));
  const auto commands = rig.commands();
  EXPECT_EQ(commands[1].bytes, "T 1");
  EXPECT_EQ(commands[2].bytes, "T 0");
  // Arrival times are taken by the peers' threads, which a busy machine may
  // wake late for the earlier event of a pair; the waits themselves are exact.
  constexpr int64_t observation_slack = 20 * ms;
  EXPECT_GE(datagram->arrived_ns - commands[1].accepted_ns, 200 * ms - observation_slack);
  EXPECT_GE(commands[2].accepted_ns - datagram->arrived_ns,
            (air_time_ms(118) + 300) * ms - observation_slack);
  EXPECT_TRUE(station.tnc.wait_for_output("] Sending 118 bytes to GNURadio\r\n", 1000));
}

// Ctrl-C, a kill and a closed terminal alike.
TEST(UplinkLoopback, TerminationWhileKeyedUnkeysFirst) {
  for (int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(signal_number);
    FakeRigctld rig;
    ModemListener modem;
    RunningTnc station(modem, rig.port(), 10000, 0);
    station.gui.send_frame("cmd:list");
    ASSERT_TRUE(rig.wait_for_commands(2, 5000));
    const int status = station.tnc.stop(signal_number, 5000);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), signal_number);
    ASSERT_TRUE(rig.wait_for_commands(3, 1000));
    EXPECT_EQ(rig.commands()[2].bytes, "T 0");
    EXPECT_FALSE(modem.receive(0));
  }
}

// Each client starts with a fresh deframer, and clients that came and went
// while another was served do not keep the next one waiting.
TEST(UplinkLoopback, NextClientIsServedAtOnceWithAFreshDeframer) {
  ModemListener modem;
  RunningTnc station(modem, free_tcp_port(), 0, 0);
  const uint8_t unfinished[] = {0xC0, 0x00, 0x41};
  station.gui.send_raw(unfinished);
  station.gui.close();
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(KissClient(station.kiss_port, 3000).connected());
  KissClient next(station.kiss_port, 3000);
  const int64_t sent_at = monotonic_ms();
  next.send_frame("cmd:bogus");
  ASSERT_TRUE(station.tnc.wait_for_output("] Unknown command \"bogus\"", 3000))
      << station.tnc.output();
  EXPECT_LT(monotonic_ms() - sent_at, 1500);
  EXPECT_EQ(station.tnc.output().find("Error parsing"), std::string::npos);
}

}  // namespace

}  // namespace kestrelis
