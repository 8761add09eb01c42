// The GUI link: text lines, and two threads sending through the shared
// connection while the GUI thread serves clients that come and go.

#include "gui/gui_link.hpp"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

#include "app/uplink.hpp"
#include "platform/clock.hpp"
#include "support/loopback_peers.hpp"
#include "support/station_capture.hpp"
#include "wire/kiss.hpp"

namespace kestrelis {

namespace {

using Lines = std::vector<std::string>;

constexpr size_t data_size = 120;

TEST(GuiLink, TextIsStampedAndCutTo299Characters) {
  StationCapture out;
  gui_text(out.station.gui, std::string(400, 'x'));
  EXPECT_EQ(out.gui(), Lines{std::string(299, 'x')});
}

TEST(GuiLinkThreads, EveryFrameArrivesWholeWhileTheGuiComesAndGoes) {
  StationCapture out({}, false);
  Station& station = out.station;
  constexpr int rounds = 20;
  constexpr size_t frames_per_round = 200;
  Socket listener = tcp_listen("127.0.0.1", 0).socket;
  std::thread gui_thread([&] {
    for (int i = 0; i < rounds; ++i) serve_gui_client(station, tcp_accept(listener.fd()));
  });
  std::atomic<bool> stop{false};
  auto sender = [&](char tag) {
    const std::vector<uint8_t> data(data_size, uint8_t(tag));
    for (int n = 0; !stop; ++n) {
      send_to_gui(station.gui, data);
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
    std::vector<uint8_t> bytes(frames_per_round * r.size());
    ASSERT_EQ(set_receive_timeout(gui.fd(), 2000), 0);
    ASSERT_EQ(::recv(gui.fd(), bytes.data(), bytes.size(), MSG_WAITALL), ssize_t(bytes.size()));
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

}  // namespace

}  // namespace kestrelis
