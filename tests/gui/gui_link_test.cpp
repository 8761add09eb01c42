// The GUI link on loopback: several clients receiving the same frames while
// two threads send, the busy line for a connection beyond MaxClients, and a
// client that does not read.

#include "gui/gui_link.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/clock.hpp"
#include "support/loopback_peers.hpp"
#include "support/served_station.hpp"
#include "support/station_capture.hpp"

namespace kestrelis {

namespace {

using Lines = std::vector<std::string>;

TEST(GuiLink, TextIsStampedAndCutTo299Characters) {
  StationCapture out;
  gui_text(out.station.gui, std::string(400, 'x'));
  EXPECT_EQ(out.gui(), Lines{std::string(299, 'x')});
}

std::vector<uint8_t> bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

// Frame `n` of sender `tag`: FEND and FESC inside, so that escaping is exercised.
std::string numbered(char tag, int n) {
  char head[16];
  std::snprintf(head, sizeof head, "%c%05d", tag, n);
  return head + std::string("\xC0\xDB") + std::string(100, tag);
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
    for (int n = 0; n < frames; ++n) send_to_gui(s.station.gui, bytes_of(numbered(tag, n)));
  };
  std::jthread receive_thread(sender, 'r');  // joined also when an assertion returns early
  std::jthread request_thread(sender, 'g');
  for (int i = 0; i < clients; ++i) {
    SCOPED_TRACE("client " + std::to_string(i + 1));
    KissReader reader(guis[static_cast<size_t>(i)].fd());
    int next_r = 0;
    int next_g = 0;
    for (int k = 0; k < 2 * frames; ++k) {
      const std::optional<std::string> frame = reader.next(5000);
      ASSERT_TRUE(frame) << "frame " << k;
      const char tag = (*frame)[0];
      int& next = tag == 'r' ? next_r : next_g;
      ASSERT_EQ(*frame, numbered(tag, next)) << "frame " << k;
      ++next;
    }
  }
  receive_thread.join();
  request_thread.join();
  EXPECT_EQ(s.station.gui.frames_sent(), uint64_t{2 * frames});
  EXPECT_EQ(s.count("Cannot send data"), 0u);
}

// With MaxClients connected, the next connection is told why and closed; the
// others are served on, and a place that comes free is taken again.
TEST(GuiLinkLoopback, ConnectionBeyondMaxClientsGetsTheBusyLineThenTheClose) {
  for (int max_clients : {1, 2}) {
    SCOPED_TRACE(max_clients);
    ServedStation s(max_clients, 0);
    std::vector<KissClient> guis;
    for (int i = 0; i < max_clients; ++i) {
      guis.emplace_back(s.port(), 2000);
      ASSERT_TRUE(s.wait_for("GUI connected.", static_cast<size_t>(i + 1), 3000));
    }
    KissClient extra(s.port(), 2000);
    extra.send_frame("cmd:list");  // unread by the TNC: the line must still arrive
    KissReader reader(extra.fd());
    const std::optional<std::string> line = reader.next(3000);
    ASSERT_TRUE(line);
    EXPECT_EQ(*line, "TNC busy: MaxClients = " + std::to_string(max_clients) +
                         " GUI client(s) connected already. To allow more, raise MaxClients (up "
                         "to 16) under [KISS] in config.ini and restart the TNC.");
    EXPECT_FALSE(reader.next(3000));
    EXPECT_TRUE(reader.closed());
    EXPECT_EQ(s.count("GUI refused: TNC busy (MaxClients = " + std::to_string(max_clients) + ")"),
              1u);

    gui_text(s.station.gui, "still served");
    for (KissClient& gui : guis) EXPECT_EQ(KissReader(gui.fd()).next(3000), "still served");
    guis.front().close();
    ASSERT_TRUE(s.wait_for("GUI disconnected", 1, 3000));
    KissClient next(s.port(), 2000);
    ASSERT_TRUE(s.wait_for("GUI connected.", static_cast<size_t>(max_clients + 1), 3000));
    gui_text(s.station.gui, "served");
    EXPECT_EQ(KissReader(next.fd()).next(3000), "served");
  }
}

TEST(GuiLinkLoopback, AClientThatDoesNotReadIsDroppedWhileAnotherKeepsReceiving) {
  ServedStation s(2, 0);
  KissClient stalled(s.port(), 2000);
  ASSERT_TRUE(s.wait_for("GUI connected.", 1, 3000));
  KissClient reading(s.port(), 2000);
  ASSERT_TRUE(s.wait_for("GUI connected.", 2, 3000));
  const std::vector<uint8_t> data(1000, 0x41);
  std::atomic<size_t> received{0};
  std::atomic<bool> done{false};
  std::thread reader_thread([&] {
    KissReader reader(reading.fd());
    while (!done && !reader.closed()) {
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
  done = true;
  reader_thread.join();
}

}  // namespace

}  // namespace kestrelis
