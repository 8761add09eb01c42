#pragma once
// The keying account: what the TNC knows about the transmitter's keying, as a
// value, and the step that moves it on one event. No socket, clock or console:
// the shell in rigctld.cpp feeds it what happened to each command and carries
// out what each step returns.
//
// The safety rule it keeps: rigctld runs the commands of different
// connections in no fixed order, and one that waits in its listen queue runs
// when rigctld gets to it, even after this side stopped waiting. So an on
// command that was delivered but not answered in time stays pending (its
// connection is kept open, so that its answer or close still tells), the
// transmitter counts as possibly keyed, and only an off command delivered when
// no on command was pending any more, and then taken, unkeys it.

#include <cstdint>
#include <vector>

namespace kestrelis {

// Pending on commands kept at most; beyond it the oldest is given up.
constexpr int max_pending_on = 16;

struct KeyingAccount {
  bool keyed = false;           // an on command may have keyed, and no off command settled it
  bool unkey_owed = false;      // the off command is resent about once a second
  bool unkey_reported = false;  // the operator was told the transmitter may still be keyed
  bool exiting = false;         // the exit path ran: nothing more is sent but its off command
  bool on_in_flight = false;    // an on command delivered, its answer still within its bound
  bool keyed_before = false;    // `keyed` and `unkey_owed` before that on command, which a
  bool owed_before = false;     // refusal restores
  int pending_on = 0;           // on commands unanswered in time, their connections kept
  bool pending_given_up = false;  // one was closed unanswered: rigctld may still run it
  bool operator==(const KeyingAccount&) const = default;
};

// Which off command an off event is about.
enum class OffPurpose : uint8_t { transmission, retry, exit };

enum class KeyingEventKind : uint8_t {
  on_requested,     // a transmission wants to key
  on_delivered,     // its on command reached rigctld (sent, sending side ended)
  on_taken,         // answered "RPRT 0", or closed or broken by rigctld without a report
  on_refused,       // answered "RPRT n", n not 0
  on_unanswered,    // neither within its bound: its connection is kept as pending
  off_requested,    // a transmission wants to unkey
  off_delivered,    // an off command reached rigctld
  off_taken,        // as on_taken
  off_refused,      // as on_refused
  off_not_taken,    // not delivered, or neither answered nor closed within its bound
  late_taken,       // a pending on command answered "RPRT 0", or its connection closed
  late_refused,     // a pending on command answered "RPRT n", n not 0
  retry_tick,       // the main thread's once-a-second turn
  exit_requested,   // the process ends
  unkey_requested,  // --unkey: the state is unknown, the transmitter counts as keyed
};

struct KeyingEvent {
  KeyingEventKind kind = KeyingEventKind::retry_tick;
  // Off events: which off command, and for its answer what its delivery step
  // returned in KeyingStep::settles.
  OffPurpose purpose = OffPurpose::transmission;
  bool settles = false;
};

enum class KeyingSend : uint8_t { nothing, on, off };

// Console lines, formatted by the shell with the commands' texts.
enum class KeyingLine : uint8_t {
  refused,           // "rigctld refused \"%s\" (RPRT %d): check the rig's PTT type ..."
  unkey_owed,        // "Unkeying failed, the transmitter may still be keyed: sending \"%s\" ..."
  unkeyed,           // "Transmitter unkeyed: rigctld took \"%s\"\n"
  exit_not_taken,    // "Unkeying failed at exit, the transmitter may still be keyed: ..."
  exit_on_pending,   // the exit's off command was taken, but an on command is unanswered
  pending_given_up,  // more than max_pending_on on commands unanswered: the oldest is closed
};

struct KeyingStep {
  KeyingAccount account;
  KeyingSend send = KeyingSend::nothing;  // requests, retry and exit: the command to send now
  bool settles = false;  // off_delivered: whether that command, once taken, unkeys for sure
  bool close_oldest_pending = false;  // on_unanswered at the cap: close the oldest kept one
  std::vector<KeyingLine> lines;      // in the order to print
};

// The account after `event`, with what to send and say. Pure.
[[nodiscard]] KeyingStep keying_next(KeyingAccount account, KeyingEvent event);

// True while the transmitter may be keyed: the exit path then sends the off command.
[[nodiscard]] bool possibly_keyed(const KeyingAccount& account);

}  // namespace kestrelis
