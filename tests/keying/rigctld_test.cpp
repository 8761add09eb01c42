// Keying through rigctld: the real daemon with a dummy rig, stand-ins that
// take, refuse or ignore commands, and the real binary's retries of a lost off
// command.

#include "keying/rigctld.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <tuple>

#include "common/rigctld_peer.hpp"
#include "keying/transmitter.hpp"
#include "platform/clock.hpp"
#include "support/loopback_peers.hpp"
#include "support/tnc_process.hpp"

namespace kestrelis {

namespace {

constexpr char rigctld_path[] = "/usr/bin/rigctld";
constexpr char owed_line[] =
    "Unkeying failed, the transmitter may still be keyed: sending \"T 0\" again every second\n";
constexpr char settled_line[] = "Transmitter unkeyed: rigctld took \"T 0\"\n";

// The TNC keying through the daemon at `rig_port`, asked by a GUI for the
// "list" command.
struct RunningTnc {
  RunningTnc(uint16_t rig_port, int key_up_ms, int key_down_ms = 0)
      : kiss_port(free_tcp_port()),
        profile(tnc_config_text(kiss_port, modem.port(), rig_port, key_up_ms, key_down_ms)),
        tnc(start_tnc(profile.home())),
        gui(kiss_port, 5000) {
    EXPECT_TRUE(tnc.wait_for_output("Waiting for GUI client", 5000)) << tnc.output();
    sleep_ms(300);
    gui.send_frame("cmd:list");
  }
  ModemListener modem;
  uint16_t kiss_port;
  TncProfile profile;
  ChildProcess tnc;
  KissClient gui;
};

// rigctld -m 1 (dummy rig) on a free port, with PTT through the rig (keyed
// during the key-up delay, unkeyed after the air time) or without any PTT
// type (both commands refused and reported).
TEST(RigctldLoopback, TheRealDaemonKeysOrRefuses) {
  if (access(rigctld_path, X_OK) != 0) GTEST_SKIP() << "rigctld is not installed";
  for (const bool with_ptt : {true, false}) {
    SCOPED_TRACE(with_ptt ? "PTT through the rig" : "no PTT type");
    const uint16_t port = free_tcp_port();
    std::vector<std::string> argv{rigctld_path,        "-m", "1", "-T", "127.0.0.1", "-t",
                                  std::to_string(port)};
    if (with_ptt) argv.insert(argv.end(), {"-P", "RIG"});
    ChildProcess rig(argv, {});
    const auto ptt = [port] { return query_rigctld_ptt(port, 1000); };  // "0", "1"; "": no answer
    for (int i = 0; i < 100 && ptt().empty(); ++i) sleep_ms(20);
    sleep_ms(300);  // the daemon stalls on connections that arrive back to back
    RunningTnc station(port, with_ptt ? 1500 : 0);
    if (with_ptt) {
      sleep_ms(700);
      EXPECT_EQ(ptt(), "1");
    }
    ASSERT_TRUE(station.modem.receive(3000));
    if (with_ptt) {
      sleep_ms(air_time_ms(118) + 700);
      EXPECT_EQ(ptt(), "0");
      EXPECT_EQ(station.tnc.output().find("refused"), std::string::npos) << station.tnc.output();
    } else {
      for (const char* line :
           {"] rigctld refused \"T 1\" (RPRT -", "] rigctld refused \"T 0\" (RPRT -"})
        EXPECT_TRUE(station.tnc.wait_for_output(line, 3000)) << station.tnc.output();
    }
    rig.stop(SIGTERM, 2000);
  }
}

// A daemon that takes each command but neither answers nor closes: the waits
// count from the delivery of each command, the answer's 0.5 s add nothing.
TEST(RigctldLoopback, ADaemonThatNeverAnswersLengthensNoWait) {
  const FakeRigctld mute(RigMode::mute);  // takes each command, holds the connection unanswered
  ASSERT_NE(mute.port(), 0);
  constexpr int64_t key_up_ms = 200, key_down_ms = 300, ms = 1'000'000;
  RunningTnc station(mute.port(), key_up_ms, key_down_ms);
  const auto datagram = station.modem.receive(5000);
  ASSERT_TRUE(datagram) << station.tnc.output();
  ASSERT_TRUE(mute.wait_for_commands(3, 5000)) << station.tnc.output();
  const auto commands = mute.commands();  // start-up check, on, off
  const int64_t air_ms = air_time_ms(datagram->bytes.size());
  // The peers' threads may stamp an event late by a few milliseconds.
  const int64_t up = datagram->arrived_ns - commands[1].accepted_ns;
  const int64_t down = commands[2].accepted_ns - datagram->arrived_ns;
  EXPECT_LE(std::abs(up - key_up_ms * ms), 20 * ms) << up;
  EXPECT_LE(std::abs(down - (air_ms + key_down_ms) * ms), 20 * ms) << down;
}

enum class Answer { absent, taken, refused, silent, mute };

// A keyer of its own whose console lines are kept, and the daemon it talks to.
struct KeyerUnderTest {
  // Points the keyer at a stand-in rigctld that answers so, or at a port where
  // nothing listens for `absent` (then returns null).
  std::unique_ptr<FakeRigctld> use_daemon(Answer answer) {
    config.Address = "127.0.0.1";
    config.Port = std::to_string(free_tcp_port());
    if (answer == Answer::absent) return nullptr;
    auto fake = answer == Answer::mute      ? std::make_unique<FakeRigctld>(RigMode::mute)
                : answer == Answer::refused ? std::make_unique<FakeRigctld>("RPRT -1\n")
                : answer == Answer::silent  ? std::make_unique<FakeRigctld>("")
                                            : std::make_unique<FakeRigctld>();
    config.Port = std::to_string(fake->port());
    return fake;
  }
  // Keys through a daemon that answers so and is gone afterwards.
  void key_through(Answer answer) {
    const auto daemon = use_daemon(answer);
    set_ptt(keyer, true);
  }
  long printed(const std::string& line) const { return std::ranges::count(lines, line); }
  TncConfig config;
  std::vector<std::string> lines;  // without their time stamps
  Console console{1, [this](std::string_view text) {
                    lines.emplace_back(text.starts_with("[") ? text.substr(21) : text);
                  }};
  Keyer keyer{config, console, 300'000'000};
};

TEST(RigctldLoopback, OffCommandIsOwedOnlyAfterAKeyingTheDaemonTook) {
  const struct {
    const char* name;
    Answer on, off;
    bool owed;
  } cases[] = {
      {"daemon gone between on and off", Answer::taken, Answer::absent, true},
      {"off refused after on taken", Answer::taken, Answer::refused, true},
      {"on taken without an answer, daemon gone", Answer::silent, Answer::absent, true},
      {"off left without an answer after on taken", Answer::taken, Answer::mute, true},
      {"off closed without an answer after on taken", Answer::taken, Answer::silent, false},
      {"daemon absent throughout", Answer::absent, Answer::absent, false},
      {"on refused, daemon gone", Answer::refused, Answer::absent, false},
      {"both taken", Answer::taken, Answer::taken, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    KeyerUnderTest k;
    k.key_through(c.on);
    const auto off = k.use_daemon(c.off);
    set_ptt(k.keyer, false);
    EXPECT_EQ(k.printed(owed_line), c.owed ? 1 : 0);
    retry_unkey(k.keyer);  // the same daemon: nothing changes, nothing more is printed
    EXPECT_EQ(k.printed(owed_line), c.owed ? 1 : 0);

    const auto back = k.use_daemon(Answer::taken);
    retry_unkey(k.keyer);
    EXPECT_EQ(back->wait_for_commands(1, c.owed ? 3000 : 300), c.owed);
    const auto sent = back->commands();
    EXPECT_EQ(sent.empty() ? "" : sent[0].bytes, c.owed ? "T 0" : "");
    EXPECT_EQ(k.printed(settled_line), c.owed ? 1 : 0);
    retry_unkey(k.keyer);  // settled: no further connection
    EXPECT_FALSE(back->wait_for_commands(c.owed ? 2 : 1, 300));
  }
}

TEST(RigctldLoopback, AnUnkeyingAtExitThatIsNotTakenIsReported) {
  const std::string exit_line =
      "Unkeying failed at exit, the transmitter may still be keyed: rigctld did not take \"T 0\"\n";
  for (const auto& [name, answer, reported] :
       {std::tuple{"taken", Answer::taken, false},
        std::tuple{"left without an answer", Answer::mute, true},
        std::tuple{"daemon gone", Answer::absent, true}}) {
    SCOPED_TRACE(name);
    KeyerUnderTest k;
    k.key_through(Answer::taken);
    const auto off = k.use_daemon(answer);
    EXPECT_EQ(unkey_for_exit(k.keyer), !reported);
    EXPECT_EQ(k.printed(exit_line), reported ? 1 : 0);
  }
}

// The next transmission keys again while an off command is owed: the retries
// must not cut it short.
TEST(RigctldLoopback, ANewKeyingEndsTheRetriesAndItsOffCommandSettles) {
  KeyerUnderTest k;
  k.key_through(Answer::taken);
  (void)k.use_daemon(Answer::absent);
  set_ptt(k.keyer, false);
  ASSERT_EQ(k.printed(owed_line), 1);
  const auto next = k.use_daemon(Answer::taken);
  set_ptt(k.keyer, true);
  retry_unkey(k.keyer);
  ASSERT_TRUE(next->wait_for_commands(1, 1000));
  EXPECT_FALSE(next->wait_for_commands(2, 300));
  set_ptt(k.keyer, false);
  ASSERT_TRUE(next->wait_for_commands(2, 1000));
  EXPECT_EQ(next->commands()[1].bytes, "T 0");
  EXPECT_EQ(k.printed(settled_line), 1);
}

// The main thread of the real binary resends the off command once the daemon
// that vanished mid-transmission is back on its port.
TEST(RigctldLoopback, TheTncUnkeysOnceTheVanishedDaemonIsBack) {
  auto rig = std::make_unique<FakeRigctld>();
  const uint16_t rig_port = rig->port();
  RunningTnc station(rig_port, 0);
  ASSERT_TRUE(rig->wait_for_commands(2, 5000)) << station.tnc.output();  // start-up check, on
  EXPECT_EQ(rig->commands()[1].bytes, "T 1");
  rig.reset();
  ASSERT_TRUE(station.tnc.wait_for_output(owed_line, 5000)) << station.tnc.output();
  sleep_ms(1500);  // retries meanwhile fail unreported
  FakeRigctld back("RPRT 0\n", rig_port);
  ASSERT_EQ(back.port(), rig_port);
  ASSERT_TRUE(back.wait_for_commands(1, 3000));
  EXPECT_EQ(back.commands()[0].bytes, "T 0");
  EXPECT_TRUE(station.tnc.wait_for_output(settled_line, 3000)) << station.tnc.output();
  const std::string output = station.tnc.output();
  EXPECT_EQ(output.find(owed_line), output.rfind(owed_line));
}

}  // namespace

}  // namespace kestrelis
