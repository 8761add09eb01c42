// An off command that does not get through while the transmitter may be
// keyed is sent again until rigctld takes it.

#include <gtest/gtest.h>

#include <algorithm>
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

// Points tnc_config at a stand-in rigctld that answers so, or at a port where
// nothing listens for `absent` (then returns null).
std::unique_ptr<FakeRigctld> use_daemon(Answer answer) {
  if (answer == Answer::absent) {
    tnc_config.Port = std::to_string(free_tcp_port());
    return nullptr;
  }
  auto fake = std::make_unique<FakeRigctld>(answer == Answer::taken     ? "RPRT 0\n"
                                            : answer == Answer::refused ? "RPRT -1\n"
                                                                        : "");
  tnc_config.Port = std::to_string(fake->port());
  return fake;
}

long printed(const OutputCapture& capture, const std::string& line) {
  const auto lines = capture.console_messages();
  return std::count(lines.begin(), lines.end(), line);
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
      const auto on = use_daemon(c.on);
      set_ptt(true);
    }
    const auto off = use_daemon(c.off);
    set_ptt(false);
    EXPECT_EQ(printed(capture, owed_line), c.owed ? 1 : 0);
    retry_unkey();  // the same daemon: nothing changes, nothing more is printed
    EXPECT_EQ(printed(capture, owed_line), c.owed ? 1 : 0);

    const auto back = use_daemon(Answer::taken);
    retry_unkey();
    EXPECT_EQ(back->wait_for_commands(1, c.owed ? 3000 : 300), c.owed);
    const auto sent = back->commands();
    EXPECT_EQ(sent.empty() ? "" : sent[0].bytes, c.owed ? "T 0" : "");
    EXPECT_EQ(printed(capture, settled_line), c.owed ? 1 : 0);
    retry_unkey();  // settled: no further connection
    EXPECT_FALSE(back->wait_for_commands(c.owed ? 2 : 1, 300));
  }
  tnc_config = saved;
}

// The next transmission keys again while an off command is owed: the retries
// must not cut it short.
TEST(UnkeyRetryLoopback, ANewKeyingEndsTheRetriesAndItsOffCommandSettles) {
  const TncConfig saved = tnc_config;
  tnc_config.Address = "127.0.0.1";
  OutputCapture capture;
  {
    const auto first = use_daemon(Answer::taken);
    set_ptt(true);
  }
  (void)use_daemon(Answer::absent);
  set_ptt(false);
  ASSERT_EQ(printed(capture, owed_line), 1);
  const auto next = use_daemon(Answer::taken);
  set_ptt(true);
  retry_unkey();
  ASSERT_TRUE(next->wait_for_commands(1, 1000));
  EXPECT_FALSE(next->wait_for_commands(2, 300));
  set_ptt(false);
  ASSERT_TRUE(next->wait_for_commands(2, 1000));
  EXPECT_EQ(next->commands()[1].bytes, "T 0");
  EXPECT_EQ(printed(capture, settled_line), 1);
  tnc_config = saved;
}

// The main thread of the real binary resends the off command once the daemon
// that vanished mid-transmission is back on its port.
TEST(UnkeyRetryLoopback, TheTncUnkeysOnceTheVanishedDaemonIsBack) {
  auto rig = std::make_unique<FakeRigctld>();
  const uint16_t rig_port = rig->port();
  ModemListener modem;
  const uint16_t kiss_port = free_tcp_port();
  TncProfile profile(tnc_config_text(kiss_port, modem.port(), rig_port, 0, 0));
  ChildProcess tnc = start_tnc(profile.home());
  KissClient gui(kiss_port, 5000);
  gui.send_frame("cmd:list");
  ASSERT_TRUE(rig->wait_for_commands(2, 5000)) << tnc.output();  // start-up check, on command
  EXPECT_EQ(rig->commands()[1].bytes, "T 1");
  rig.reset();
  ASSERT_TRUE(tnc.wait_for_output(owed_line, 5000)) << tnc.output();
  sleep_ms(1500);  // retries meanwhile fail unreported
  FakeRigctld back("RPRT 0\n", rig_port);
  ASSERT_EQ(back.port(), rig_port);
  ASSERT_TRUE(back.wait_for_commands(1, 3000));
  EXPECT_EQ(back.commands()[0].bytes, "T 0");
  EXPECT_TRUE(tnc.wait_for_output(settled_line, 3000)) << tnc.output();
  const std::string output = tnc.output();
  EXPECT_EQ(output.find(owed_line), output.rfind(owed_line));
}

}  // namespace
