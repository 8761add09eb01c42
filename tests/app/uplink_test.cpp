// The uplink where the golden transcript cannot see it: a GUI thread that a
// stalled client cannot hold, termination while keyed, and clients that come
// and go. The keying waits are timed in tests/keying.

#include "app/uplink.hpp"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/clock.hpp"
#include "support/loopback_peers.hpp"
#include "support/tnc_process.hpp"

namespace kestrelis {

namespace {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

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
  TncConfig config;
  config.GR_TransmitPort = modem.port();
  config.VerboseLevel = 5;
  Station station(config, Console{.sink = [&](std::string_view text) {
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
  RunningTnc(const ModemListener& modem, uint16_t rig_port, int key_up_ms)
      : kiss_port(free_tcp_port()),
        profile(tnc_config_text(kiss_port, modem.port(), rig_port, key_up_ms, 0)),
        tnc(start_tnc(profile.home())),
        gui(kiss_port, 5000) {}
  uint16_t kiss_port;
  TncProfile profile;
  ChildProcess tnc;
  KissClient gui;
};

// Ctrl-C, a kill and a closed terminal alike.
TEST(UplinkLoopback, TerminationWhileKeyedUnkeysFirst) {
  for (int signal_number : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(signal_number);
    FakeRigctld rig;
    ModemListener modem;
    RunningTnc station(modem, rig.port(), 10000);
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
  RunningTnc station(modem, free_tcp_port(), 0);
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
