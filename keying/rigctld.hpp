#pragma once
// Keying the transmitter through the rig control daemon rigctld.

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "config/config.hpp"
#include "console/console_log.hpp"
#include "platform/net.hpp"

namespace kestrelis {

// The keying state, shared by the GUI thread (which keys) and the main thread
// (which retries a failed unkey and unkeys on the way out).
struct Keyer {
  Keyer(const TncConfig& c, const Console& out, int64_t answer_timeout = 5'000'000'000)
      : config(c), console(out), answer_timeout_ns(answer_timeout) {}
  const TncConfig& config;  // Address, Port and the two commands
  const Console& console;
  // How long an answer is waited for after the command went out: the daemon
  // answers once the rig has, and a rig that does not answer makes it try
  // again for some seconds before it reports the failure.
  int64_t answer_timeout_ns;
  // Receives each keying failure's console line, without its line end, for
  // the operator's GUI; set before any thread starts. Called from the GUI
  // thread and the main thread, never with `mutex` held.
  std::function<void(std::string_view line)> report;
  // Serialises connections and the account below, so that the exit path and
  // the retries know the state; a transmission reads its answers without it.
  std::mutex mutex;
  bool keyed = false;           // the daemon took an on command, and no off command since
  bool unkey_owed = false;      // an off command failed while keyed: retry_unkey resends it
  bool unkey_reported = false;  // the operator was told the transmitter may be keyed
  bool exiting = false;
  std::vector<std::string> unreported;  // lines for `report`, in the order printed
};

// One command sent to rigctld, its answer still to be read.
struct PttCommand {
  bool on = false;
  bool settled = true;     // nothing left to read or to account for
  bool delivered = false;  // connected and sent, sending direction ended
  Socket connection;
  int64_t answer_deadline_ns = 0;
  std::string answer;
  bool unanswered = false;  // no report and no close by the deadline, or the connection broke
  // The account before an on command, which a refusal restores.
  bool keyed_before = false;
  bool owed_before = false;
};

// The first half of an exchange with rigctld at Address:Port: connects (at
// most about 2 s), sends PTT_ON_Command (on) or PPT_OFF_Command (off) as its
// text alone and ends the sending direction. Does nothing when Address is
// empty. No connection: "Could not connect to HamLib RIG Control Daemon!\n".
// A delivered on command counts as taken at once, so that no retried off
// command cuts the transmission it starts.
[[nodiscard]] PttCommand deliver_ptt(Keyer& keyer, bool on);

// The second half: reads the answer until it holds its "RPRT n" line, the
// daemon closes, answer_timeout_ns after the delivery (5 s: a daemon waiting
// on its rig answers late), or `until_ns` on the monotonic clock, whichever comes first. True
// while the answer is still pending (`until_ns` came first); otherwise the
// command is settled: an answer "RPRT n" with n other than 0 is printed with
// the command, a refused on command leaves the account as it was before it,
// and an off command after an on command the daemon took is taken only when
// it answers "RPRT 0" or closes without a report (peers that never answer).
// One that does not reach the daemon, that it refuses, that it leaves without
// a report for that long, or whose connection breaks prints "Unkeying failed, the
// transmitter may still be keyed: sending \"%s\" again every second\n" and
// leaves the off command to retry_unkey. Failures never stop the caller.
[[nodiscard]] bool collect_ptt(Keyer& keyer, PttCommand& command, int64_t until_ns);

// Passes the keying failures printed so far, by any thread, to Keyer::report.
void report_keying(Keyer& keyer);

// deliver_ptt, collect_ptt without a limit of its own, report_keying.
void set_ptt(Keyer& keyer, bool on);

// The main thread, about once a second: while an off command is owed, sends it
// once more, printing nothing on failure and "Transmitter unkeyed: rigctld
// took \"%s\"\n" once it succeeds. A later on command the daemon takes ends
// the retries; its own off command then settles the account.
void retry_unkey(Keyer& keyer);

// On the way out of the process: unkeys when the daemon took an on command
// that no off command has settled, printing "Unkeying failed at exit, the
// transmitter may still be keyed: rigctld did not take \"%s\"\n" when that
// off command is not taken, and makes every later set_ptt and retry_unkey do
// nothing. Waits for an exchange that another thread has under way. False
// when that off command was not taken.
[[nodiscard]] bool unkey_for_exit(Keyer& keyer);

}  // namespace kestrelis
