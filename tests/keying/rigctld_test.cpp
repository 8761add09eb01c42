// Keying through rigctld: stand-ins that take, refuse or ignore commands, and
// the real binary's retries of a lost off command (the real daemon:
// rigctld_stall_test.cpp).

#include "keying/rigctld.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "keying/transmitter.hpp"
#include "platform/clock.hpp"
#include "support/loopback_peers.hpp"
#include "support/tnc_process.hpp"

namespace kestrelis {

namespace {

constexpr char owed_line[] =
    "Unkeying failed, the transmitter may still be keyed: sending \"T 0\" again every second\n";
constexpr char settled_line[] = "Transmitter unkeyed: rigctld took \"T 0\"\n";

// A keyer of its own whose console lines are kept.
struct KeyerUnderTest {
  explicit KeyerUnderTest(int64_t answer_timeout_ns = 300'000'000)
      : keyer(config, console, answer_timeout_ns) {}
  // Points the keyer at a stand-in rigctld in `mode` (closed: nothing listens).
  std::unique_ptr<FakeRigctld> use_daemon(RigMode mode) {
    auto fake = std::make_unique<FakeRigctld>(mode);
    config.Address = "127.0.0.1";
    config.Port = std::to_string(fake->port());
    return fake;
  }
  long printed(const std::string& line) const { return std::ranges::count(lines, line); }
  RigctldSettings config{.PTT_ON_Command = "T 1", .PPT_OFF_Command = "T 0"};
  std::vector<std::string> lines;  // without their time stamps
  Console console{1, [this](std::string_view text) {
                    lines.emplace_back(text.starts_with("[") ? text.substr(21) : text);
                  }};
  Keyer keyer;
};

// How each answer to an off command is read, after an on command the daemon
// took: the rules that follow are the keying account's.
TEST(RigctldLoopback, EachAnswerToAnOffCommandIsRead) {
  // The off command's daemon, whether the off command is owed then.
  const std::tuple<const char*, RigMode, bool> cases[] = {
      {"daemon gone", RigMode::closed, true},
      {"refused", RigMode::refusing, true},
      {"left without an answer", RigMode::mute, true},
      {"closed without an answer", RigMode::silent, false},
      {"taken", RigMode::answering, false},
  };
  for (const auto& [name, off_daemon, owed] : cases) {
    SCOPED_TRACE(name);
    KeyerUnderTest k;
    const auto on = k.use_daemon(RigMode::answering);
    k.keyer.set_ptt(true);
    const auto off = k.use_daemon(off_daemon);
    k.keyer.set_ptt(false);
    EXPECT_EQ(k.printed(owed_line), owed ? 1 : 0);
    EXPECT_EQ(k.keyer.account().unkey_owed, owed);
    if (!owed) continue;
    const auto back = k.use_daemon(RigMode::answering);
    k.keyer.retry_unkey();
    ASSERT_TRUE(back->wait_for_commands(1, 3000));
    EXPECT_EQ(back->commands()[0].bytes, "T 0");
    EXPECT_EQ(k.printed(settled_line), 1);
  }
}

// An unkeying at exit that is not taken, or taken while an on command is still
// unanswered, is reported. A process the system ends soon passes a deadline:
// the off command still goes out, and the exit path ends by it, however long
// the keyer would wait otherwise.
TEST(RigctldLoopback, AnUnkeyingAtExitNotTakenIsReportedAndEndsByItsDeadline) {
  const std::string not_taken =
      "Unkeying failed at exit, the transmitter may still be keyed: rigctld did not take \"T 0\"\n";
  const std::string on_pending =
      "Unkeying at exit not confirmed, the transmitter may still be keyed: rigctld has not "
      "answered \"T 1\"\n";
  constexpr int64_t deadline_ms = 400;
  // The on and the off command's daemons, the line at exit (none: taken).
  const std::tuple<const char*, RigMode, RigMode, std::string> cases[] = {
      {"taken", RigMode::answering, RigMode::answering, ""},
      {"left without an answer", RigMode::answering, RigMode::mute, not_taken},
      {"daemon gone", RigMode::answering, RigMode::closed, not_taken},
      {"the on command unanswered", RigMode::mute, RigMode::answering, on_pending}};
  for (const bool with_deadline : {false, true}) {
    for (const auto& [name, on_daemon, off_daemon, line] : cases) {
      if (with_deadline && on_daemon == RigMode::mute) continue;  // keying would wait 5 s
      SCOPED_TRACE(std::string(name) + (with_deadline ? ", with a deadline" : ""));
      KeyerUnderTest k(with_deadline ? 5'000'000'000 : 300'000'000);
      const auto on = k.use_daemon(on_daemon);
      k.keyer.set_ptt(true);
      const auto off = k.use_daemon(off_daemon);
      const int64_t start_ns = monotonic_ns();
      EXPECT_EQ(with_deadline ? k.keyer.unkey_for_exit(start_ns + deadline_ms * 1'000'000)
                              : k.keyer.unkey_for_exit(),
                line.empty());
      EXPECT_LE((monotonic_ns() - start_ns) / 1'000'000, with_deadline ? deadline_ms + 100 : 5000);
      EXPECT_EQ(k.printed(not_taken), line == not_taken ? 1 : 0);
      EXPECT_EQ(k.printed(on_pending), line == on_pending ? 1 : 0);
      if (off_daemon != RigMode::closed) {
        ASSERT_TRUE(off->wait_for_commands(1, 1000));
        EXPECT_EQ(off->commands()[0].bytes, "T 0");
      }
    }
  }
}

// More on commands left unanswered than the account keeps: the oldest
// connection is closed, so no more than the cap stay open.
TEST(RigctldLoopback, UnansweredOnCommandsKeepAtMostTheCapOfConnections) {
  KeyerUnderTest k(20'000'000);
  const auto never_reading = k.use_daemon(RigMode::never_reading);
  for (int i = 0; i <= max_pending_on; ++i) k.keyer.set_ptt(true);
  EXPECT_EQ(k.keyer.kept_connections(), size_t{max_pending_on});
  EXPECT_EQ(k.printed("rigctld left more than 16 \"T 1\" unanswered: the oldest is given up, and "
                      "the transmitter may stay keyed until --unkey or the exit sends \"T 0\"\n"),
            1);
}

// A stand-in rigctld stopped when it goes out of scope.
struct Rig : FakeRig {
  ~Rig() { stop_fake_rig(*this); }
};

// The real binary keying through a daemon that takes each command but never
// answers: the waits count from the delivery of each command, so the answers'
// bound adds nothing to them. The off command is owed; the main thread
// resends it once the daemon, gone meanwhile, is back on its port.
TEST(RigctldLoopback, TheTncUnkeysOnceADaemonThatNeverAnsweredIsBack) {
  Rig rig;
  ASSERT_TRUE(start_fake_rig(rig, RigMode::mute));
  constexpr int64_t key_up_ms = 200, key_down_ms = 300, ms = 1'000'000;
  TncWithGui station(rig.port, key_up_ms, key_down_ms);
  EXPECT_TRUE(station.tnc.wait_for_output("Waiting for GUI client", 5000)) << station.tnc.output();
  sleep_ms(300);
  station.gui.send_frame("cmd:list");
  const auto datagram = station.modem.receive(5000);
  ASSERT_TRUE(datagram) << station.tnc.output();
  ASSERT_TRUE(wait_for_rig_commands(rig, 3, 5000)) << station.tnc.output();
  const auto commands = rig_commands(rig);  // start-up check, on, off
  EXPECT_EQ(commands[1].bytes, "T 1");
  // Key-up wait, then air time and key-down wait; the peers' threads may stamp
  // an event late by a few milliseconds.
  const int64_t air_ms = air_time_ms(datagram->bytes.size());
  EXPECT_LE(std::abs(datagram->arrived_ns - commands[1].accepted_ns - key_up_ms * ms), 20 * ms);
  EXPECT_LE(std::abs(commands[2].accepted_ns - datagram->arrived_ns - (air_ms + key_down_ms) * ms),
            20 * ms);
  ASSERT_TRUE(station.tnc.wait_for_output(owed_line, 8000)) << station.tnc.output();
  set_rig_mode(rig, RigMode::closed);
  sleep_ms(1500);  // retries meanwhile fail unreported
  set_rig_mode(rig, RigMode::answering);
  EXPECT_TRUE(station.tnc.wait_for_output(settled_line, 8000)) << station.tnc.output();
  EXPECT_EQ(rig_commands(rig).back().bytes, "T 0");
  const std::string output = station.tnc.output();
  EXPECT_EQ(output.find(owed_line), output.rfind(owed_line));
}

}  // namespace

}  // namespace kestrelis
