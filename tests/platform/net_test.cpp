// The socket calls of the platform layer where systems differ: a refused
// connection, a datagram longer than the buffer, a UDP socket after a
// datagram to a closed port, a bounded send to a peer that never reads, and
// the waker of a thread waiting on several sockets.

#include "platform/net.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.hpp"

namespace kestrelis {

namespace {

std::span<const uint8_t> bytes_of(const std::vector<uint8_t>& v) { return {v.data(), v.size()}; }

Ipv4Endpoint loopback(const Socket& s) { return {0x7F000001, local_port(s.fd())}; }

TEST(Net, ConnectionToAClosedPortIsRefused) {
  NetResult listener = tcp_listen("127.0.0.1", 0);
  ASSERT_TRUE(listener.status.ok());
  const std::string port = std::to_string(local_port(listener.socket.fd()));
  listener.socket.close();
  const NetResult r = tcp_connect("127.0.0.1", port.c_str(), 2000);
  EXPECT_EQ(r.status.failed_at, SysStep::connect);
  EXPECT_FALSE(r.socket.valid());
}

TEST(Net, CutDatagramIsReportedLongerThanTheBuffer) {
  NetResult receiver = udp_bind("127.0.0.1", 0, 0);
  ASSERT_TRUE(receiver.status.ok());
  Socket sender = udp_open();
  std::vector<uint8_t> datagram(100);
  for (size_t i = 0; i < datagram.size(); ++i) datagram[i] = static_cast<uint8_t>(i);
  ASSERT_TRUE(datagram_send(sender.fd(), loopback(receiver.socket), bytes_of(datagram)).ok());
  ASSERT_TRUE(wait_readable(receiver.socket.fd(), 2000));
  std::array<uint8_t, 10> buffer{};
  EXPECT_GT(datagram_receive(receiver.socket.fd(), buffer), 10);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), datagram.begin()));
}

TEST(Net, UdpSocketReceivesAfterSendingToAClosedPort) {
  NetResult socket = udp_bind("127.0.0.1", 0, 0);
  ASSERT_TRUE(socket.status.ok());
  Ipv4Endpoint closed;
  {
    NetResult gone = udp_bind("127.0.0.1", 0, 0);
    closed = loopback(gone.socket);
  }
  const std::vector<uint8_t> ping{1, 2, 3};
  (void)datagram_send(socket.socket.fd(), closed, bytes_of(ping));
  sleep_ms(100);  // time for the system to learn that the port is closed
  Socket other = udp_open();
  ASSERT_TRUE(datagram_send(other.fd(), loopback(socket.socket), bytes_of(ping)).ok());
  ASSERT_TRUE(wait_readable(socket.socket.fd(), 2000));
  std::array<uint8_t, 16> buffer{};
  EXPECT_EQ(datagram_receive(socket.socket.fd(), buffer), 3);
}

TEST(Net, BoundedSendToAPeerThatNeverReadsGivesUp) {
  NetResult listener = tcp_listen("127.0.0.1", 0);
  ASSERT_TRUE(listener.status.ok());
  const std::string port = std::to_string(local_port(listener.socket.fd()));
  NetResult client = tcp_connect("127.0.0.1", port.c_str(), 2000);
  ASSERT_TRUE(client.status.ok());
  Socket peer = tcp_accept(listener.socket.fd());
  ASSERT_TRUE(peer.valid());
  const std::vector<uint8_t> flood(64u << 20);
  const int64_t start = monotonic_ms();
  const SysResult sent = send_all_within(client.socket.fd(), bytes_of(flood), 300);
  EXPECT_EQ(sent.failed_at, SysStep::send);
  EXPECT_EQ(sent.error, EAGAIN);
  EXPECT_LT(monotonic_ms() - start, 3000);
}

TEST(Net, WakerEndsAWaitOnSockets) {
  Waker waker = open_waker();
  ASSERT_TRUE(waker.watch.valid());
  ASSERT_TRUE(waker.wake.valid());
  std::array<SocketWait, 2> waits{SocketWait{.fd = waker.watch.fd(), .want_read = true},
                                  SocketWait{.fd = -1, .want_read = true}};
  EXPECT_EQ(wait_sockets(waits, 0), 0);
  std::thread waking([&] {
    sleep_ms(100);
    wake_waker(waker.wake.fd());
  });
  const int64_t start = monotonic_ms();
  EXPECT_EQ(wait_sockets(waits, 5000), 1);
  EXPECT_LT(monotonic_ms() - start, 3000);
  waking.join();
  EXPECT_TRUE(waits[0].readable);
  EXPECT_FALSE(waits[1].readable);
  sleep_ms(50);  // a second byte may still be under way on a TCP pair
  drain_waker(waker.watch.fd());
  EXPECT_EQ(wait_sockets(waits, 0), 0);
  EXPECT_FALSE(waits[0].readable);
}

}  // namespace

}  // namespace kestrelis
