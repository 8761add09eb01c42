// An off command that does not get through while the transmitter may be
// keyed is sent again until rigctld takes it.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "app/config.hpp"
#include "platform/clock.hpp"
#include "support/gui_capture.hpp"
#include "support/loopback_peers.hpp"
#include "support/tnc_process.hpp"
#include "tx/rigctld.hpp"

namespace {

constexpr char owed_line[] =
    "Unkeying failed, the transmitter may still be keyed: sending \"T 0\" again every second\n";
constexpr char settled_line[] = "Transmitter unkeyed: rigctld took \"T 0\"\n";

enum class Answer { absent, taken, refused, silent };

// A stand-in rigctld that answers each command so, or none (connections
// refused) for `absent`.
struct Daemon {
  explicit Daemon(Answer answer) {
    if (answer == Answer::absent) {
      port = free_tcp_port();
      return;
    }
    fake = std::make_unique<FakeRigctld>(answer == Answer::taken     ? "RPRT 0\n"
                                         : answer == Answer::refused ? "RPRT -1\n"
                                                                     : "");
    port = fake->port();
  }
  void use() const { tnc_config.Port = std::to_string(port); }
  std::unique_ptr<FakeRigctld> fake;
  uint16_t port = 0;
};

bool printed(const OutputCapture& capture, const std::string& line) {
  const auto lines = capture.console_messages();
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(UnkeyRetryLoopback, OffCommandIsOwedOnlyAfterAKeyingTheDaemonTook) {
  const struct {
    const char* name;
    Answer on, off;
    bool owed;
  } cases[] = {
      {"daemon gone between on and off", Answer::taken, Answer::absent, true},
      {"off refused after on taken", Answer::taken, Answer::refused, true},
      {"on taken without an answer, daemon gone", Answer::silent, Answer::absent, true},
      {"daemon absent throughout", Answer::absent, Answer::absent, false},
      {"on refused, daemon gone", Answer::refused, Answer::absent, false},
      {"both taken", Answer::taken, Answer::taken, false},
  };
  const TncConfig saved = tnc_config;
  tnc_config.Address = "127.0.0.1";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    OutputCapture capture;
    {
      Daemon on(c.on);
      on.use();
      set_ptt(true);
    }
    Daemon off(c.off);
    off.use();
    set_ptt(false);
    EXPECT_EQ(printed(capture, owed_line), c.owed);
    retry_unkey();  // the same daemon: nothing changes, nothing is printed
    const auto lines = capture.console_messages();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), owed_line), c.owed ? 1 : 0);

    Daemon back(Answer::taken);
    back.use();
    retry_unkey();
    EXPECT_EQ(back.fake->wait_for_commands(1, c.owed ? 3000 : 300), c.owed);
    if (c.owed) {
      EXPECT_EQ(back.fake->commands()[0].bytes, "T 0");
    }
    EXPECT_EQ(printed(capture, settled_line), c.owed);
    retry_unkey();  // settled: no further connection
    EXPECT_FALSE(back.fake->wait_for_commands(c.owed ? 2 : 1, 300));
  }
  tnc_config = saved;
}

TEST(UnkeyRetryLoopback, ANewKeyingEndsTheRetriesAndItsOffCommandSettles) {
  const TncConfig saved = tnc_config;
  tnc_config.Address = "127.0.0.1";
  OutputCapture capture;
  Daemon first(Answer::taken);
  first.use();
  set_ptt(true);
  Daemon(Answer::absent).use();
  set_ptt(false);
  ASSERT_TRUE(printed(capture, owed_line));
  // The next transmission keys again: the retries must not cut it short.
  Daemon next(Answer::taken);
  next.use();
  set_ptt(true);
  retry_unkey();
  ASSERT_TRUE(next.fake->wait_for_commands(1, 1000));
  EXPECT_FALSE(next.fake->wait_for_commands(2, 300));
  set_ptt(false);
  ASSERT_TRUE(next.fake->wait_for_commands(2, 1000));
  EXPECT_EQ(next.fake->commands()[1].bytes, "T 0");
  EXPECT_TRUE(printed(capture, settled_line));
  tnc_config = saved;
}

// The main thread of the real binary resends the off command once the daemon
// that vanished mid-transmission is back on its port.
TEST(UnkeyRetryLoopback, TheTncUnkeysOnceTheVanishedDaemonIsBack) {
  Socket daemon = tcp_listen("127.0.0.1", 0).socket;
  const uint16_t rig_port = local_port(daemon.fd());
  // One connection: its bytes until the TNC ends its side, then `answer`.
  auto serve_one = [&](const char* answer) {
    if (!wait_readable(daemon.fd(), 5000)) return std::string("(no connection)");
    Socket peer = tcp_accept(daemon.fd());
    std::string bytes;
    uint8_t buffer[64];
    while (wait_readable(peer.fd(), 2000)) {
      const long n = stream_receive(peer.fd(), buffer);
      if (n <= 0) break;
      bytes.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
    }
    (void)send_all(peer.fd(), {reinterpret_cast<const uint8_t*>(answer), std::strlen(answer)});
    return bytes;
  };
  ModemListener modem;
  const uint16_t kiss_port = free_tcp_port();
  TncProfile profile(tnc_config_text(kiss_port, modem.port(), rig_port, 0, 0));
  ChildProcess tnc = start_tnc(profile.home());
  EXPECT_EQ(serve_one(""), "");  // the start-up check
  KissClient gui(kiss_port, 5000);
  gui.send_frame("cmd:list");
  EXPECT_EQ(serve_one("RPRT 0\n"), "T 1");
  daemon.close();
  ASSERT_TRUE(tnc.wait_for_output(owed_line, 5000)) << tnc.output();
  sleep_ms(1500);  // retries meanwhile fail unreported
  daemon = tcp_listen("127.0.0.1", rig_port).socket;
  ASSERT_TRUE(daemon.valid());
  EXPECT_EQ(serve_one("RPRT 0\n"), "T 0");
  EXPECT_TRUE(tnc.wait_for_output(settled_line, 3000)) << tnc.output();
  const std::string output = tnc.output();
  EXPECT_EQ(output.find(owed_line), output.rfind(owed_line));
}

}  // namespace
