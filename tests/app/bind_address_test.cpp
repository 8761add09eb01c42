// The optional bind addresses of the GUI and modem ports, on the real binary.
// 127.0.0.2 reaches the machine itself, but not a socket bound to 127.0.0.1.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "packet/csp.hpp"
#include "platform/net.hpp"
#include "radio/frame.hpp"
#include "support/process.hpp"
#include "support/tnc_process.hpp"

namespace {

struct Ports {
  uint16_t modem = free_udp_port();
  uint16_t kiss = free_tcp_port();
};

std::string config(const Ports& p, const std::string& kiss_address,
                   const std::string& modem_address) {
  return "[modem]\nGR_ReceivePort = " + std::to_string(p.modem) +
         "\nGR_ReceiveAddress = " + modem_address + "\nGR_TransmitPort = " +
         std::to_string(free_udp_port()) + "\n[KISS]\nKISS_Port = " + std::to_string(p.kiss) +
         "\nKISS_Address = " + kiss_address + "\n";
}

bool gui_port_reachable(const char* host, uint16_t port) {
  return tcp_connect(host, std::to_string(port).c_str(), 1000).failed_at == NetStep::none;
}

size_t count_of(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Sends one clean frame followed by a byte to `host`; true when the TNC saw it.
bool modem_port_reachable(ChildProcess& tnc, const char* host, uint16_t port) {
  const size_t seen = count_of(tnc.output(), "Digipeater packet");
  CspHeader h;
  h.source = satellite_address;
  h.destination_port = digipeater_port;
  const uint8_t payload[] = {0x42};
  std::vector<uint8_t> frame = build_frame(csp_header_bytes(h), payload);
  frame.push_back(0x00);
  Socket s = udp_open();
  Ipv4Endpoint to{*parse_ipv4(host), port};
  EXPECT_EQ(datagram_send(s.fd(), to, frame), 0);
  for (int i = 0; i < 30; ++i) {
    if (count_of(tnc.output(), "Digipeater packet") > seen) return true;
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
      {"all interfaces by default", "", "", true, nullptr},
      {"bound to 127.0.0.1", "127.0.0.1", "127.0.0.1", false, nullptr},
      {"address that does not parse", "localhost", "", true,
       "Config: KISS_Address = localhost is not an IPv4 address; listening on all interfaces\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Ports ports;
    TncProfile profile(config(ports, c.kiss_address, c.modem_address));
    ChildProcess tnc = start_tnc(profile.home());
    ASSERT_TRUE(tnc.wait_for_output("Waiting for GUI client", 5000)) << tnc.output();
    ASSERT_TRUE(tnc.wait_for_output("Listening for GNURadio", 5000)) << tnc.output();
    if (c.console != nullptr) {
      EXPECT_NE(tnc.output().find(c.console), std::string::npos);
    }
    EXPECT_TRUE(gui_port_reachable("127.0.0.1", ports.kiss));
    EXPECT_EQ(gui_port_reachable("127.0.0.2", ports.kiss), c.reachable_elsewhere);
    EXPECT_EQ(modem_port_reachable(tnc, "127.0.0.2", ports.modem), c.reachable_elsewhere);
    EXPECT_TRUE(modem_port_reachable(tnc, "127.0.0.1", ports.modem)) << tnc.output();
  }
}

}  // namespace
