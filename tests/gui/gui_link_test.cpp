// The GUI link on loopback: several clients receiving the same frames while
// two threads send, the busy line for a connection beyond MaxClients, a
// client that does not read, and a text for one client, cut to length.

#include "gui/gui_link.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "platform/clock.hpp"
#include "support/loopback_peers.hpp"
#include "support/served_station.hpp"

namespace kestrelis {

namespace {

// Frame `n` of sender `tag`: FEND and FESC inside, so that escaping is exercised.
std::string numbered(char tag, int n) {
  return tag + std::to_string(100000 + n) + "\xC0\xDB" + std::string(100, tag);
}

TEST(GuiLinkLoopback, EveryClientGetsEveryFrameWholeAndInOrder) {
  constexpr int clients = 3;
  constexpr int frames = 300;
  ServedStation s(clients, 0);
  std::vector<KissClient> guis;
  for (int i = 0; i < clients; ++i) {
    guis.emplace_back(s.port(), 2000);
    ASSERT_TRUE(s.wait_for("GUI connected.", static_cast<size_t>(i + 1), 3000));
  }
  auto sender = [&](char tag) {
    for (int n = 0; n < frames; ++n) {
      const std::string frame = numbered(tag, n);
      send_to_gui(s.station.gui, std::vector<uint8_t>(frame.begin(), frame.end()));
    }
  };
  std::jthread receive_thread(sender, 'r');  // joined also when an assertion returns early
  std::jthread request_thread(sender, 'g');
  for (KissClient& gui : guis) {
    KissReader reader(gui.fd());
    int next[2] = {0, 0};  // of 'r' and 'g'
    for (int k = 0; k < 2 * frames; ++k) {
      const std::optional<std::string> frame = reader.next(5000);
      ASSERT_TRUE(frame) << "frame " << k;
      ASSERT_EQ(*frame, numbered((*frame)[0], next[(*frame)[0] == 'r' ? 0 : 1]++)) << "frame " << k;
    }
  }
  receive_thread.join();
  request_thread.join();
  EXPECT_EQ(s.station.gui.frames_sent(), uint64_t{2 * frames});
  EXPECT_EQ(s.count("Cannot send data"), 0u);
}

// With MaxClients connected, the next connection is told why and closed. A
// client that does not read is dropped while another keeps receiving, and the
// place that comes free is taken again, and served on its own.
TEST(GuiLinkLoopback, BeyondMaxClientsTheBusyLineAndAClientThatDoesNotReadIsDropped) {
  ServedStation s(2, 0);
  KissClient stalled(s.port(), 2000);
  ASSERT_TRUE(s.wait_for("GUI connected.", 1, 3000));
  KissClient reading(s.port(), 2000);
  ASSERT_TRUE(s.wait_for("GUI connected.", 2, 3000));
  KissClient extra(s.port(), 2000);
  extra.send_frame("cmd:list");  // unread by the TNC: the line must still arrive
  KissReader extra_reader(extra.fd());
  EXPECT_EQ(extra_reader.next(3000),
            "TNC busy: MaxClients = 2 GUI client(s) connected already. To allow more, raise "
            "MaxClients (up to 16) under [KISS] in config.ini and restart the TNC.");
  EXPECT_FALSE(extra_reader.next(3000));
  EXPECT_TRUE(extra_reader.closed());
  EXPECT_EQ(s.count("GUI refused: TNC busy (MaxClients = 2)"), 1u);
  const std::vector<uint8_t> data(1000, 0x41);
  std::atomic<size_t> received{0};
  std::jthread reader_thread([&](const std::stop_token& stop) {
    KissReader reader(reading.fd());
    while (!stop.stop_requested() && !reader.closed()) {
      if (reader.next(100)) received.fetch_add(1);
    }
  });
  // Past the bound and whatever the system's buffers absorb before it. The
  // reading client is never let fall far behind, however slow its thread.
  size_t sent = 0;
  const int64_t give_up = monotonic_ms() + 30000;
  const std::string dropped = "GUI client 1 dropped: more than 1048576 bytes waited for it";
  while (s.count(dropped) == 0 && monotonic_ms() < give_up) {
    send_to_gui(s.station.gui, data);
    ++sent;
    while (sent > received.load() + 256 && monotonic_ms() < give_up) sleep_ms(1);
  }
  ASSERT_TRUE(s.wait_for(dropped, 1, 5000)) << sent << " frames sent";
  send_to_gui(s.station.gui, data);
  ++sent;
  const int64_t deadline = monotonic_ms() + 10000;
  while (received.load() < sent && monotonic_ms() < deadline) sleep_ms(5);
  EXPECT_EQ(received.load(), sent);
  EXPECT_EQ(s.count("GUI disconnected (client 1, 1 of 2 connected)"), 1u);
  // The stalled client learns at once that it was dropped: a reset, not a
  // FIN behind megabytes.
  KissReader stalled_reader(stalled.fd());
  while (stalled_reader.next(5000)) {
  }
  EXPECT_TRUE(stalled_reader.closed());
  KissClient next(s.port(), 2000);
  ASSERT_TRUE(s.wait_for("GUI connected.", 3, 3000));
  // To client 3 alone, stamped and cut to 299 characters.
  gui_text(s.station.gui, std::string(400, 'x'), 3);
  EXPECT_EQ(KissReader(next.fd()).next(3000), std::string(299, 'x'));
}

}  // namespace

}  // namespace kestrelis
