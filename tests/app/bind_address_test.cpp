// The optional bind addresses of the GUI and modem ports, on the real binary.
// 127.0.0.2 reaches the machine itself, but not a socket bound to 127.0.0.1.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/net.hpp"
#include "radio/test_bit_stream.hpp"
#include "support/process.hpp"
#include "support/tnc_process.hpp"

namespace {

size_t count_of(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Sends one clean frame followed by a byte to `host`; true when the TNC saw it.
bool modem_port_reachable(ChildProcess& tnc, const char* host, uint16_t port) {
  const std::string seen = "Received self-generated packet";
  const size_t before = count_of(tnc.output(), seen);
  std::vector<uint8_t> datagram = list_frame;
  datagram.push_back(0x00);
  EXPECT_EQ(datagram_send(udp_open().fd(), {*parse_ipv4(host), port}, datagram), 0);
  for (int i = 0; i < 30; ++i) {
    if (count_of(tnc.output(), seen) > before) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

TEST(BindAddressLoopback, BoundPortsRefuseOtherAddresses) {
  struct Case {
    const char* name;
    const char* kiss_address;
    const char* modem_address;
    bool reachable_elsewhere;
    const char* console;
  };
  const Case cases[] = {
      {"all interfaces by default", "", "", true, ""},
      {"bound to 127.0.0.1", "127.0.0.1", "127.0.0.1", false, ""},
      {"address that does not parse", "localhost", "", true,
       "Config: KISS_Address = localhost is not an IPv4 address; listening on all interfaces\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const uint16_t modem = free_udp_port();
    const uint16_t kiss = free_tcp_port();
    TncProfile profile("[modem]\nGR_ReceivePort = " + std::to_string(modem) +
                       "\nGR_ReceiveAddress = " + c.modem_address +
                       "\nGR_TransmitPort = " + std::to_string(free_udp_port()) +
                       "\n[KISS]\nKISS_Port = " + std::to_string(kiss) +
                       "\nKISS_Address = " + c.kiss_address + "\n");
    ChildProcess tnc = start_tnc(profile.home());
    ASSERT_TRUE(tnc.wait_for_output("Waiting for GUI client", 5000)) << tnc.output();
    ASSERT_TRUE(tnc.wait_for_output("Listening for GNURadio", 5000)) << tnc.output();
    EXPECT_NE(tnc.output().find(c.console), std::string::npos);
    const std::pair<const char*, bool> hosts[] = {{"127.0.0.1", true},
                                                  {"127.0.0.2", c.reachable_elsewhere}};
    for (const auto& [host, reachable] : hosts) {
      SCOPED_TRACE(host);
      const std::string service = std::to_string(kiss);
      EXPECT_EQ(tcp_connect(host, service.c_str(), 1000).failed_at == NetStep::none, reachable);
      EXPECT_EQ(modem_port_reachable(tnc, host, modem), reachable) << tnc.output();
    }
  }
}

}  // namespace
