// The socket calls of the platform layer where systems differ: a refused
// connection, a bounded send to a peer that never reads, a UDP socket after
// a datagram to a closed port, a datagram longer than the buffer, and the
// waker of a thread waiting on several sockets.

#include "platform/net.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <numeric>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/clock.hpp"

namespace kestrelis {

namespace {

Ipv4Endpoint loopback(const Socket& s) { return {0x7F000001, local_port(s.fd())}; }

TEST(Net, BoundedSendToAPeerThatNeverReadsGivesUpAndAClosedPortRefuses) {
  NetResult listener = tcp_listen("127.0.0.1", 0);
  const std::string port = std::to_string(local_port(listener.socket.fd()));
  NetResult client = tcp_connect("127.0.0.1", port.c_str(), 2000);
  ASSERT_TRUE(client.status.ok());
  Socket peer = tcp_accept(listener.socket.fd());
  ASSERT_TRUE(peer.valid());
  const std::vector<uint8_t> flood(64u << 20);
  const int64_t start = monotonic_ms();
  const SysResult sent = send_all_within(client.socket.fd(), flood, 300);
  EXPECT_EQ(std::pair(sent.failed_at, sent.error), std::pair(SysStep::send, EAGAIN));
  EXPECT_LT(monotonic_ms() - start, 3000);

  listener.socket.close();
  const NetResult refused = tcp_connect("127.0.0.1", port.c_str(), 2000);
  EXPECT_EQ(refused.status.failed_at, SysStep::connect);
  EXPECT_FALSE(refused.socket.valid());
}

// A datagram to a closed port leaves the socket receiving; one longer than
// the buffer is reported longer.
TEST(Net, UdpSocketReceivesACutDatagramAfterSendingToAClosedPort) {
  NetResult socket = udp_bind("127.0.0.1", 0, 0);
  const Ipv4Endpoint closed = loopback(udp_bind("127.0.0.1", 0, 0).socket);  // closed again
  std::vector<uint8_t> datagram(100);
  std::iota(datagram.begin(), datagram.end(), uint8_t{0});
  (void)datagram_send(socket.socket.fd(), closed, datagram);
  sleep_ms(100);  // time for the system to learn that the port is closed
  Socket other = udp_open();
  ASSERT_TRUE(datagram_send(other.fd(), loopback(socket.socket), datagram).ok());
  ASSERT_TRUE(wait_readable(socket.socket.fd(), 2000));
  std::array<uint8_t, 10> buffer{};
  EXPECT_GT(datagram_receive(socket.socket.fd(), buffer), 10);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), datagram.begin()));
}

TEST(Net, WakerEndsAWaitOnSockets) {
  Waker waker = open_waker();
  ASSERT_TRUE(waker.watch.valid() && waker.wake.valid());
  std::array<SocketWait, 2> waits{SocketWait{.fd = waker.watch.fd(), .want_read = true},
                                  SocketWait{.fd = -1, .want_read = true}};
  EXPECT_EQ(wait_sockets(waits, 0), 0);
  std::jthread waking([&] {
    sleep_ms(100);
    wake_waker(waker.wake.fd());
  });
  const int64_t start = monotonic_ms();
  EXPECT_EQ(wait_sockets(waits, 5000), 1);
  EXPECT_LT(monotonic_ms() - start, 3000);
  EXPECT_TRUE(waits[0].readable);
  EXPECT_FALSE(waits[1].readable);
  sleep_ms(50);  // a second byte may still be under way on a TCP pair
  drain_waker(waker.watch.fd());
  EXPECT_EQ(wait_sockets(waits, 0), 0);
  EXPECT_FALSE(waits[0].readable);
}

}  // namespace

}  // namespace kestrelis
