#pragma once
// Keying the transmitter through the rig control daemon rigctld.

#include <mutex>

#include "config/config.hpp"
#include "console/console_log.hpp"

namespace kestrelis {

// The keying state, shared by the GUI thread (which keys) and the main thread
// (which retries a failed unkey and unkeys on the way out).
struct Keyer {
  Keyer(const TncConfig& c, const Console& out) : config(c), console(out) {}
  const TncConfig& config;  // Address, Port and the two commands
  const Console& console;
  // Serialises exchanges, so that the exit path and the retries know the state.
  std::mutex mutex;
  bool keyed = false;           // the daemon took an on command, and no off command since
  bool unkey_owed = false;      // an off command failed while keyed: retry_unkey resends it
  bool unkey_reported = false;  // the operator was told the transmitter may be keyed
  bool exiting = false;
};

// One exchange with rigctld at Address:Port: connects (at most about 2 s),
// sends PTT_ON_Command (on) or PPT_OFF_Command (off) as its text alone, ends
// the sending direction and reads the answer for at most 0.5 s. Does nothing
// when Address is empty. No connection: "Could not connect to HamLib RIG
// Control Daemon!\n"; an answer "RPRT n" with n other than 0 is printed with
// the command. Failures never stop the caller. An off command that does not
// reach the daemon, or that it refuses, after an on command it took prints
// "Unkeying failed, the transmitter may still be keyed: sending \"%s\" again
// every second\n" and leaves the off command to retry_unkey.
void set_ptt(Keyer& keyer, bool on);

// The main thread, about once a second: while an off command is owed, sends it
// once more, printing nothing on failure and "Transmitter unkeyed: rigctld
// took \"%s\"\n" once it succeeds. A later on command the daemon takes ends
// the retries; its own off command then settles the account.
void retry_unkey(Keyer& keyer);

// On the way out of the process: unkeys when the daemon took an on command
// that no off command has settled, and makes every later set_ptt and
// retry_unkey do nothing. Waits for an exchange that another thread has under way.
void unkey_for_exit(Keyer& keyer);

}  // namespace kestrelis
