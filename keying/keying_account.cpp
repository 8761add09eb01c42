#include "keying/keying_account.hpp"

namespace kestrelis {

namespace {

using Kind = KeyingEventKind;

// An off command that did not settle the account: while something may be
// keyed, the off command is owed, and the operator hears of it once.
void owe_unkey(KeyingStep& s) {
  KeyingAccount& a = s.account;
  if (!a.keyed) return;
  a.unkey_owed = true;
  if (!a.unkey_reported) {
    s.lines.push_back(KeyingLine::unkey_owed);
    a.unkey_reported = true;
  }
}

// The answer to an off command: `taken` says rigctld ran it.
void settle_off(KeyingStep& s, const KeyingEvent& e, bool taken) {
  KeyingAccount& a = s.account;
  if (e.purpose == OffPurpose::exit) {
    if (!taken) {
      s.lines.push_back(KeyingLine::exit_not_taken);
    } else if (!e.settles) {
      s.lines.push_back(KeyingLine::exit_on_pending);
    }
    return;
  }
  if (a.exiting) return;
  if (taken && e.settles) {
    if (a.unkey_reported) s.lines.push_back(KeyingLine::unkeyed);
    a.keyed = false;
    a.unkey_owed = false;
    a.unkey_reported = false;
    return;
  }
  owe_unkey(s);
}

}  // namespace

bool possibly_keyed(const KeyingAccount& a) {
  return a.keyed || a.unkey_owed || a.pending_on > 0 || a.pending_given_up;
}

KeyingStep keying_next(KeyingAccount account, KeyingEvent e) {
  KeyingStep s;
  s.account = account;
  KeyingAccount& a = s.account;
  switch (e.kind) {
    case Kind::on_requested:
    case Kind::off_requested:
      if (!a.exiting) s.send = e.kind == Kind::on_requested ? KeyingSend::on : KeyingSend::off;
      break;
    case Kind::on_delivered:
      // Keyed on purpose now: a retried off command would cut this transmission.
      a.keyed_before = a.keyed;
      a.owed_before = a.unkey_owed;
      a.keyed = true;
      a.unkey_owed = false;
      a.on_in_flight = true;
      break;
    case Kind::on_taken:
      a.on_in_flight = false;
      break;
    case Kind::on_refused:
      s.lines.push_back(KeyingLine::refused);
      if (a.on_in_flight && !a.exiting) {
        // Nothing was keyed by it: the account, and an owed off command's
        // retries, are as they were.
        a.keyed = a.keyed_before;
        a.unkey_owed = a.owed_before;
      }
      a.on_in_flight = false;
      break;
    case Kind::on_unanswered:
      a.on_in_flight = false;
      if (a.pending_on < max_pending_on) {
        ++a.pending_on;
      } else {
        s.close_oldest_pending = true;
        a.pending_given_up = true;
        s.lines.push_back(KeyingLine::pending_given_up);
      }
      break;
    case Kind::off_delivered:
      // rigctld can no longer run an on command that it answered or closed,
      // so an off command delivered after that runs after it.
      s.settles = !a.on_in_flight && a.pending_on == 0 && !a.pending_given_up;
      break;
    case Kind::off_taken:
      settle_off(s, e, true);
      break;
    case Kind::off_refused:
      if (e.purpose != OffPurpose::retry) s.lines.push_back(KeyingLine::refused);
      settle_off(s, e, false);
      break;
    case Kind::off_not_taken:
      settle_off(s, e, false);
      break;
    case Kind::late_taken:
    case Kind::late_refused:
      if (a.pending_on > 0) --a.pending_on;
      if (e.kind == Kind::late_refused) s.lines.push_back(KeyingLine::refused);
      break;
    case Kind::retry_tick:
      if (!a.exiting && a.unkey_owed) {
        s.send = KeyingSend::off;
      }
      break;
    case Kind::exit_requested:
      if (!a.exiting && possibly_keyed(a)) s.send = KeyingSend::off;
      a.exiting = true;
      break;
    case Kind::unkey_requested:
      a.keyed = true;
      break;
  }
  return s;
}

}  // namespace kestrelis
