#pragma once
// Keying the transmitter through the rig control daemon rigctld: the shell
// around the keying account (keying_account.hpp), which talks to rigctld and
// the console and feeds the account what happened.

#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "console/console_log.hpp"
#include "keying/keying_account.hpp"
#include "platform/net.hpp"
#include "platform/thread_safety.hpp"

namespace kestrelis {

// What the keying reads of the configuration: where rigctld is and what it
// is sent.
struct RigctldSettings {
  std::string Address = {};          // host; empty: nothing is keyed
  std::string Port = {};             // port, as a service name
  std::string PTT_ON_Command = {};   // keys the transmitter
  std::string PPT_OFF_Command = {};  // unkeys it
};

// One command sent to rigctld, its answer still to be read.
struct PttCommand {
  bool on = false;
  bool settled = true;     // nothing left to read or to account for
  bool delivered = false;  // connected and sent, sending direction ended
  Socket connection;
  int64_t answer_deadline_ns = 0;
  std::string answer;
  bool unanswered = false;  // no report and no close by the deadline
  bool broken = false;      // the connection broke before a report
  OffPurpose purpose = OffPurpose::transmission;  // off commands: what for
  bool settles = false;  // off commands: delivered when no on command was unanswered
};

// The shortest time-out of the exit path's connection to rigctld, however
// close its deadline: a loopback connection takes well under a millisecond.
constexpr int exit_connect_floor_ms = 200;

// The keying shared by the GUI thread (which keys and unkeys) and the main
// thread (which retries an owed off command and unkeys on the way out). Each
// command is one connection that carries its text alone and ends its sending
// direction; an on command left unanswered keeps its connection here, read
// side open, until rigctld answers or closes it.
class Keyer {
 public:
  // `answer_timeout_ns`: how long an answer is waited for after the command
  // went out: rigctld answers once the rig has, and a rig that does not answer
  // makes it try again for some seconds before it reports the failure.
  // `settings` is read at each command and must outlive the keyer.
  Keyer(const RigctldSettings& settings, const Console& console,
        int64_t answer_timeout_ns = 5'000'000'000);
  Keyer(const Keyer&) = delete;
  Keyer& operator=(const Keyer&) = delete;

  // Receives each keying failure's console line, without its line end, for
  // the operator's GUI. Set before any thread starts; called from the GUI
  // thread and the main thread, never with the keyer's lock held.
  void set_report(std::function<void(std::string_view line)> report);

  // The first half of an exchange with rigctld at Address:Port: connects (at
  // most about 2 s), sends PTT_ON_Command (on) or PPT_OFF_Command (off) as its
  // text alone and ends the sending direction. Does nothing when Address is
  // empty or after unkey_for_exit. No connection: "Could not connect to HamLib
  // RIG Control Daemon!\n". A delivered on command counts as keying at once,
  // so that no retried off command cuts the transmission it starts.
  [[nodiscard]] PttCommand deliver_ptt(bool on) EXCLUDES(mutex_);

  // The second half: reads the answer until it holds its "RPRT n" line, the
  // daemon closes, answer_timeout_ns after the delivery, or `until_ns` on the
  // monotonic clock, whichever comes first. True while the answer is still
  // pending (`until_ns` came first); otherwise the command is settled and the
  // account told: "rigctld refused \"%s\" (RPRT %d): check the rig's PTT type (rigctld -P; for
  // the dummy rig, -P RIG)\n" for a refusal; an on
  // command left unanswered keeps its connection here; an off command that is
  // not taken while the transmitter may be keyed prints "Unkeying failed, the
  // transmitter may still be keyed: sending \"%s\" again every second\n" and
  // leaves the off command to retry_unkey.
  [[nodiscard]] bool collect_ptt(PttCommand& command, int64_t until_ns) EXCLUDES(mutex_);

  // Passes the keying failures printed so far, by any thread, to the report.
  void report_keying() EXCLUDES(mutex_);

  // deliver_ptt, collect_ptt without a limit of its own, report_keying.
  void set_ptt(bool on) EXCLUDES(mutex_);

  // The main thread, about once a second: reads what the kept on commands'
  // connections hold without waiting, then, while an off command is owed,
  // sends it once more, printing nothing on failure and "Transmitter unkeyed:
  // rigctld took \"%s\"\n" once one is taken that was delivered when no on
  // command was unanswered.
  void retry_unkey() EXCLUDES(mutex_);

  // For --unkey: the state is unknown, so the transmitter counts as keyed.
  void count_as_keyed() EXCLUDES(mutex_);

  // On the way out of the process: sends the off command when the transmitter
  // may be keyed. Prints "Unkeying failed at exit, the transmitter may still be
  // keyed: rigctld did not take \"%s\"\n" when it is not taken, and "Unkeying
  // at exit not confirmed, the transmitter may still be keyed: rigctld has not
  // answered \"%s\"\n" when an on command is still unanswered. Every later
  // set_ptt and retry_unkey does nothing. False in both cases.
  // `deadline_ns` (monotonic clock) shortens the connection's time-out and the
  // answer's wait to end by then, for a process the system ends soon; an off
  // command delivered but unanswered by then counts as not taken. The
  // connection gets at least exit_connect_floor_ms, as the off command matters
  // more than the deadline.
  [[nodiscard]] bool unkey_for_exit(int64_t deadline_ns = std::numeric_limits<int64_t>::max())
      EXCLUDES(mutex_);

  // A copy of the account and the number of kept connections, for tests.
  [[nodiscard]] KeyingAccount account() const EXCLUDES(mutex_);
  [[nodiscard]] size_t kept_connections() const EXCLUDES(mutex_);

 private:
  // An on command left unanswered: its connection and what it held so far.
  struct PendingOn {
    Socket connection;
    std::string answer;
  };

  KeyingStep apply(KeyingEvent event, int refusal_code = 0) REQUIRES(mutex_);
  void note(std::string line) REQUIRES(mutex_);
  void send_command(PttCommand& command, bool quiet, int connect_ms) REQUIRES(mutex_);
  void account_on(PttCommand& command) REQUIRES(mutex_);
  KeyingStep account_off(const PttCommand& command) REQUIRES(mutex_);
  void poll_pending() REQUIRES(mutex_);
  KeyingStep exchange_off(OffPurpose purpose, int64_t deadline_ns) REQUIRES(mutex_);

  const RigctldSettings& settings_;
  const Console& console_;
  const int64_t answer_timeout_ns_;
  std::function<void(std::string_view line)> report_;
  // Serialises connections and the account, so that the exit path and the
  // retries know the state; a transmission reads its answers without it.
  mutable Mutex mutex_;
  KeyingAccount account_ GUARDED_BY(mutex_);
  std::deque<PendingOn> pending_ GUARDED_BY(mutex_);
  std::vector<std::string> unreported_ GUARDED_BY(mutex_);  // for the report, in order
};

}  // namespace kestrelis
