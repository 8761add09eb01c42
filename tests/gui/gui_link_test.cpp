// The GUI link: message lines, and two threads sending through the shared
// connection while the GUI thread serves clients that come and go.

#include "gui/gui_link.hpp"

#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "app/config.hpp"
#include "gui/gui_server.hpp"
#include "platform/clock.hpp"
#include "support/gui_capture.hpp"
#include "support/loopback_peers.hpp"
#include "tx/transmit.hpp"

namespace {

constexpr size_t data_size = 120;

// Reads exactly `count` bytes from `fd`, or fewer when the peer stops.
std::vector<uint8_t> read_exactly(int fd, size_t count) {
  std::vector<uint8_t> bytes(count);
  size_t got = 0;
  while (got < count && wait_readable(fd, 2000)) {
    long n = stream_receive(fd, std::span(bytes).subspan(got));
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

// Keeps the GUI thread inside its first transmission until released.
struct HeldTransmissions {
  std::mutex mutex;
  std::condition_variable changed;
  int started = 0;
  bool released = false;
} held;

void hold_transmission(std::span<const uint8_t>) {
  std::unique_lock lock(held.mutex);
  ++held.started;
  held.changed.notify_all();
  held.changed.wait(lock, [] { return held.released; });
}

TEST(GuiLink, MessageIsStampedAndCutTo299Characters) {
  OutputCapture capture;
  gui_message("Received: %s", "Hi");
  gui_text(std::string(400, 'x'));
  gui_text("100% sure");
  EXPECT_EQ(capture.gui_messages(),
            (std::vector<std::string>{"Received: Hi", std::string(299, 'x'), "100% sure"}));
  EXPECT_EQ(capture.gui_texts()[0].substr(0, 2), "P[");
}

TEST(GuiLinkThreads, EveryFrameArrivesWholeWhileTheGuiComesAndGoes) {
  OutputCapture capture;
  gui_sink = nullptr;  // frames go to the socket; the console is captured
  constexpr int rounds = 20;
  constexpr size_t frames_per_round = 200;
  Socket listener = tcp_listen("127.0.0.1", 0).socket;
  std::thread gui_thread([&] {
    for (int i = 0; i < rounds; ++i) serve_gui_client(tcp_accept(listener.fd()));
  });
  std::atomic<bool> stop{false};
  auto sender = [&](char tag) {
    const std::vector<uint8_t> data(data_size, uint8_t(tag));
    for (int n = 0; !stop; ++n) {
      send_to_gui(data);
      if (n % 16 == 0) sleep_ms(1);
    }
  };
  std::thread receive_thread(sender, 'r');
  std::thread request_thread(sender, 'g');

  const auto r = kiss_encode(std::vector<uint8_t>(data_size, 'r'));
  const auto g = kiss_encode(std::vector<uint8_t>(data_size, 'g'));
  for (int round = 0; round < rounds; ++round) {
    SCOPED_TRACE(round);
    KissClient gui(local_port(listener.fd()), 2000);
    ASSERT_TRUE(gui.connected());
    // The stream must be whole frames back to back, from its first byte on.
    const auto bytes = read_exactly(gui.fd(), frames_per_round * r.size());
    ASSERT_EQ(bytes.size(), frames_per_round * r.size());
    for (size_t at = 0; at < bytes.size(); at += r.size()) {
      const bool whole = std::equal(r.begin(), r.end(), bytes.begin() + long(at)) ||
                         std::equal(g.begin(), g.end(), bytes.begin() + long(at));
      ASSERT_TRUE(whole) << "at byte " << at;
    }
  }
  stop = true;
  receive_thread.join();
  request_thread.join();
  gui_thread.join();
}

TEST(GuiLinkThreads, AGuiThatStopsReadingIsDroppedAfterTheSendTimeOut) {
  OutputCapture capture;
  gui_sink = nullptr;
  tnc_config.VerboseLevel = 5;
  transmit_recorder = hold_transmission;
  Socket listener = tcp_listen("127.0.0.1", 0).socket;
  std::thread gui_thread([&] { serve_gui_client(tcp_accept(listener.fd())); });
  KissClient gui(local_port(listener.fd()), 2000);
  ASSERT_TRUE(gui.connected());
  // The first request holds the GUI thread while the second waits behind it.
  gui.send_frame("cmd:list");
  gui.send_frame("cmd:count");
  {
    std::unique_lock lock(held.mutex);
    ASSERT_TRUE(held.changed.wait_for(lock, std::chrono::seconds(5), [] { return held.started; }));
  }
  const std::vector<uint8_t> data(300, 0x41);
  const int64_t deadline = monotonic_ms() + 20000;
  const std::string failure = "GUI communicatino failed (Error 11)\n";
  auto failed = [&] { return std::ranges::count(capture.console_messages(), failure) > 0; };
  while (!failed() && monotonic_ms() < deadline) send_to_gui(data);
  EXPECT_TRUE(failed());
  {
    std::lock_guard lock(held.mutex);
    held.released = true;
  }
  held.changed.notify_all();
  gui_thread.join();  // the connection was given up
  transmit_recorder = nullptr;
  tnc_config.VerboseLevel = 1;
  // The request that waited was never acted on; the end is the failed send's.
  EXPECT_EQ(held.started, 1);
  const auto console = capture.console_messages();
  EXPECT_EQ(std::ranges::count(console, "recv failed with error: 11\n"), 1);
  EXPECT_EQ(std::ranges::count(console, "GUI disconnected\n"), 0);
  // Reset, not a FIN queued behind the megabytes the GUI left unread: the GUI
  // learns at once that it was dropped.
  pollfd p{gui.fd(), POLLRDHUP, 0};
  ASSERT_EQ(::poll(&p, 1, 1000), 1);
  EXPECT_NE(p.revents & (POLLHUP | POLLERR), 0);
  send_to_gui(data);
  EXPECT_EQ(capture.console_messages().back(), "Cannot send data to GUI (GUI not connected)\n");
}

}  // namespace
