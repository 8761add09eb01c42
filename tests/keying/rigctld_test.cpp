// Keying through rigctld: stand-ins that take, refuse or ignore commands, and
// the real binary's retries of a lost off command (the real daemon:
// rigctld_stall_test.cpp).

#include "keying/rigctld.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "keying/transmitter.hpp"
#include "platform/clock.hpp"
#include "support/loopback_peers.hpp"
#include "support/rigctld_peer.hpp"
#include "support/tnc_process.hpp"

namespace kestrelis {

namespace {

constexpr char owed_line[] =
    "Unkeying failed, the transmitter may still be keyed: sending \"T 0\" again every second\n";
constexpr char settled_line[] = "Transmitter unkeyed: rigctld took \"T 0\"\n";

// Asks the TNC for the "list" command through its GUI once it serves the GUI.
void send_list(TncWithGui& station) {
  EXPECT_TRUE(station.tnc.wait_for_output("Waiting for GUI client", 5000)) << station.tnc.output();
  sleep_ms(300);
  station.gui.send_frame("cmd:list");
}

// A daemon that takes each command but neither answers nor closes: the waits
// count from the delivery of each command, the answer's 0.5 s add nothing.
TEST(RigctldLoopback, ADaemonThatNeverAnswersLengthensNoWait) {
  const FakeRigctld mute(RigMode::mute);  // takes each command, holds the connection unanswered
  ASSERT_NE(mute.port(), 0);
  constexpr int64_t key_up_ms = 200, key_down_ms = 300, ms = 1'000'000;
  TncWithGui station(mute.port(), key_up_ms, key_down_ms);
  send_list(station);
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
  KeyerUnderTest() = default;
  explicit KeyerUnderTest(int64_t answer_timeout) : answer_timeout_ns(answer_timeout) {}
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
    keyer.set_ptt(true);
  }
  long printed(const std::string& line) const { return std::ranges::count(lines, line); }
  RigctldSettings config{.PTT_ON_Command = "T 1", .PPT_OFF_Command = "T 0"};
  std::vector<std::string> lines;  // without their time stamps
  Console console{1, [this](std::string_view text) {
                    lines.emplace_back(text.starts_with("[") ? text.substr(21) : text);
                  }};
  int64_t answer_timeout_ns = 300'000'000;
  Keyer keyer{config, console, answer_timeout_ns};
};

// How each answer to an off command is read, after an on command the daemon
// took: the rules that follow are the keying account's.
TEST(RigctldLoopback, EachAnswerToAnOffCommandIsRead) {
  const struct {
    const char* name;
    Answer off;
    bool owed;
  } cases[] = {
      {"daemon gone", Answer::absent, true},
      {"refused", Answer::refused, true},
      {"left without an answer", Answer::mute, true},
      {"closed without an answer", Answer::silent, false},
      {"taken", Answer::taken, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    KeyerUnderTest k;
    k.key_through(Answer::taken);
    const auto off = k.use_daemon(c.off);
    k.keyer.set_ptt(false);
    EXPECT_EQ(k.printed(owed_line), c.owed ? 1 : 0);
    EXPECT_EQ(k.keyer.account().unkey_owed, c.owed);
    if (!c.owed) continue;
    const auto back = k.use_daemon(Answer::taken);
    k.keyer.retry_unkey();
    ASSERT_TRUE(back->wait_for_commands(1, 3000));
    EXPECT_EQ(back->commands()[0].bytes, "T 0");
    EXPECT_EQ(k.printed(settled_line), 1);
  }
}

// An unkeying at exit that is not taken is reported. A process the system
// ends soon passes a deadline: the off command still goes out, and the exit
// path ends by it, however long the keyer would wait otherwise.
TEST(RigctldLoopback, AnUnkeyingAtExitNotTakenIsReportedAndEndsByItsDeadline) {
  const std::string exit_line =
      "Unkeying failed at exit, the transmitter may still be keyed: rigctld did not take \"T 0\"\n";
  constexpr int64_t deadline_ms = 400;
  for (const bool with_deadline : {false, true}) {
    for (const auto& [name, answer, taken] :
         {std::tuple{"taken", Answer::taken, true},
          std::tuple{"left without an answer", Answer::mute, false},
          std::tuple{"daemon gone", Answer::absent, false}}) {
      SCOPED_TRACE(std::string(name) + (with_deadline ? ", with a deadline" : ""));
      KeyerUnderTest k(with_deadline ? 5'000'000'000 : 300'000'000);
      k.key_through(Answer::taken);
      const auto off = k.use_daemon(answer);
      const int64_t start_ns = monotonic_ns();
      EXPECT_EQ(with_deadline ? k.keyer.unkey_for_exit(start_ns + deadline_ms * 1'000'000)
                              : k.keyer.unkey_for_exit(),
                taken);
      if (with_deadline) {
        EXPECT_LE((monotonic_ns() - start_ns) / 1'000'000, deadline_ms + 100);
      }
      EXPECT_EQ(k.printed(exit_line), taken ? 0 : 1);
      if (off) {
        ASSERT_TRUE(off->wait_for_commands(1, 1000));
        EXPECT_EQ(off->commands()[0].bytes, "T 0");
      }
    }
  }
}

constexpr uint8_t report_taken[] = {'R', 'P', 'R', 'T', ' ', '0', '\n'};

// A daemon that holds the first connection unanswered until released and
// answers every later one at once with "RPRT 0".
struct StallingDaemon {
  StallingDaemon()
      : listener(tcp_listen("127.0.0.1", 0).socket),
        port(local_port(listener.fd())),
        thread([this] {
          std::vector<Socket> held;
          while (!stop) {
            if (!wait_readable(listener.fd(), 20)) {
              if (release && !held.empty()) {
                (void)send_all(held.front().fd(), report_taken);
                held.clear();
              }
              continue;
            }
            Socket peer = tcp_accept(listener.fd());
            std::array<uint8_t, 64> buffer{};
            while (wait_readable(peer.fd(), 1000) && stream_receive(peer.fd(), buffer) > 0) {
            }
            if (++accepted == 1) {
              held.push_back(std::move(peer));
            } else {
              (void)send_all(peer.fd(), report_taken);
            }
          }
        }) {}
  ~StallingDaemon() {
    stop = true;
    thread.join();
  }
  Socket listener;
  uint16_t port;
  std::atomic<bool> release{false};
  std::atomic<bool> stop{false};
  std::atomic<int> accepted{0};
  std::thread thread;
};

// The on command left unanswered keeps its connection: off commands taken
// meanwhile settle nothing, its late answer is read by the retry, and the
// next off command taken unkeys. At exit, one still unanswered is reported.
TEST(RigctldLoopback, AnUnansweredOnCommandIsKeptUntilItsAnswer) {
  const std::string pending_line =
      "Unkeying at exit not confirmed, the transmitter may still be keyed: rigctld has not "
      "answered \"T 1\"\n";
  for (const bool answered : {true, false}) {
    SCOPED_TRACE(answered ? "answered late" : "unanswered at exit");
    StallingDaemon daemon;
    KeyerUnderTest k;
    k.config.Address = "127.0.0.1";
    k.config.Port = std::to_string(daemon.port);
    k.keyer.set_ptt(true);
    EXPECT_EQ(k.keyer.kept_connections(), 1u);
    k.keyer.set_ptt(false);
    EXPECT_EQ(k.printed(owed_line), 1);
    k.keyer.retry_unkey();
    EXPECT_EQ(daemon.accepted, 3);
    EXPECT_EQ(k.printed(settled_line), 0);
    if (!answered) {
      EXPECT_FALSE(k.keyer.unkey_for_exit());
      EXPECT_EQ(k.printed(pending_line), 1);
      continue;
    }
    daemon.release = true;
    for (int i = 0; i < 100 && k.printed(settled_line) == 0; ++i) {
      sleep_ms(20);
      k.keyer.retry_unkey();
    }
    EXPECT_EQ(k.printed(settled_line), 1);
    EXPECT_EQ(k.keyer.kept_connections(), 0u);
    EXPECT_TRUE(k.keyer.unkey_for_exit());
  }
}

// More on commands left unanswered than the account keeps: the oldest
// connection is closed, so no more than the cap stay open.
TEST(RigctldLoopback, UnansweredOnCommandsKeepAtMostTheCapOfConnections) {
  const NetResult never_accepting = tcp_listen("127.0.0.1", 0);
  KeyerUnderTest k(20'000'000);
  k.config.Address = "127.0.0.1";
  k.config.Port = std::to_string(local_port(never_accepting.socket.fd()));
  for (int i = 0; i <= max_pending_on; ++i) k.keyer.set_ptt(true);
  EXPECT_EQ(k.keyer.kept_connections(), size_t{max_pending_on});
  EXPECT_EQ(k.printed("rigctld left more than 16 \"T 1\" unanswered: the oldest is given up, and "
                      "the transmitter may stay keyed until --unkey or the exit sends \"T 0\"\n"),
            1);
}

// The main thread of the real binary resends the off command once the daemon
// that vanished mid-transmission is back on its port.
TEST(RigctldLoopback, TheTncUnkeysOnceTheVanishedDaemonIsBack) {
  auto rig = std::make_unique<FakeRigctld>();
  const uint16_t rig_port = rig->port();
  TncWithGui station(rig_port, 0);
  send_list(station);
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
