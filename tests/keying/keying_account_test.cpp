#include "keying/keying_account.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace kestrelis {

namespace {

using Kind = KeyingEventKind;
using Line = KeyingLine;
using Lines = std::vector<KeyingLine>;
using Send = KeyingSend;

// An account written as flags: K keyed, O unkey_owed, R unkey_reported, X
// exiting, F on_in_flight, k keyed_before, o owed_before, P<n> pending_on, G
// pending_given_up.
KeyingAccount account(std::string_view flags) {
  KeyingAccount a;
  for (size_t i = 0; i < flags.size(); ++i) {
    switch (flags[i]) {
      case 'K': a.keyed = true; break;
      case 'O': a.unkey_owed = true; break;
      case 'R': a.unkey_reported = true; break;
      case 'X': a.exiting = true; break;
      case 'F': a.on_in_flight = true; break;
      case 'k': a.keyed_before = true; break;
      case 'o': a.owed_before = true; break;
      case 'G': a.pending_given_up = true; break;
      case 'P':
        while (i + 1 < flags.size() && flags[i + 1] >= '0' && flags[i + 1] <= '9') {
          a.pending_on = a.pending_on * 10 + (flags[++i] - '0');
        }
        break;
      default: break;
    }
  }
  return a;
}

std::string flags_of(const KeyingAccount& a) {
  std::string s;
  const auto add = [&s](bool on, std::string_view flag) {
    if (!on) return;
    if (!s.empty()) s += ' ';
    s += flag;
  };
  add(a.keyed, "K");
  add(a.unkey_owed, "O");
  add(a.unkey_reported, "R");
  add(a.exiting, "X");
  add(a.on_in_flight, "F");
  add(a.keyed_before, "k");
  add(a.owed_before, "o");
  add(a.pending_on > 0, "P" + std::to_string(a.pending_on));
  add(a.pending_given_up, "G");
  return s;
}

// The states the account reaches, by name.
constexpr const char* idle = "";
constexpr const char* in_flight = "K F";                  // keying, the answer still to come
constexpr const char* in_flight_over_owed = "K R F k o";  // keying while an off command was owed
constexpr const char* keyed = "K";                        // the on command taken
constexpr const char* owed = "K O R";                     // an off command not taken
constexpr const char* pending = "K O R P1";               // an on command unanswered as well
constexpr const char* full = "K O R P16";                 // as many unanswered as are kept
constexpr const char* given_up = "K O R G";               // one of them closed unanswered
constexpr const char* exiting = "K O R X";

struct Row {
  const char* state;
  Kind event;
  const char* after;
  Send send = Send::nothing;
  Lines lines = {};
  bool settles = false;
  bool close_oldest = false;
};

void check(const Row& r, KeyingEvent event) {
  const KeyingStep step = keying_next(account(r.state), event);
  EXPECT_EQ(flags_of(step.account), flags_of(account(r.after)));
  EXPECT_EQ(step.send, r.send);
  EXPECT_EQ(step.lines, r.lines);
  EXPECT_EQ(step.settles, r.settles);
  EXPECT_EQ(step.close_oldest_pending, r.close_oldest);
}

// Every state against every event; off answers here are to a transmission's
// off command delivered when no on command was unanswered.
TEST(KeyingAccount, EveryStateAndEvent) {
  const Send on = Send::on, off = Send::off;
  const Lines refused{Line::refused}, unkey_owed{Line::unkey_owed}, unkeyed{Line::unkeyed};
  const Row rows[] = {
      // A transmission asks to key: refused only on the way out.
      {idle, Kind::on_requested, idle, on},
      {in_flight, Kind::on_requested, in_flight, on},
      {in_flight_over_owed, Kind::on_requested, in_flight_over_owed, on},
      {keyed, Kind::on_requested, keyed, on},
      {owed, Kind::on_requested, owed, on},
      {pending, Kind::on_requested, pending, on},
      {full, Kind::on_requested, full, on},
      {given_up, Kind::on_requested, given_up, on},
      {exiting, Kind::on_requested, exiting},
      // Delivered: keyed on purpose, the retries stop, the account before is kept.
      {idle, Kind::on_delivered, "K F"},
      {in_flight, Kind::on_delivered, "K F k"},
      {in_flight_over_owed, Kind::on_delivered, "K R F k"},
      {keyed, Kind::on_delivered, "K F k"},
      {owed, Kind::on_delivered, "K R F k o"},
      {pending, Kind::on_delivered, "K R F k o P1"},
      {full, Kind::on_delivered, "K R F k o P16"},
      {given_up, Kind::on_delivered, "K R F k o G"},
      {exiting, Kind::on_delivered, "K R X F k o"},
      // Taken: keyed.
      {idle, Kind::on_taken, idle},
      {in_flight, Kind::on_taken, "K"},
      {in_flight_over_owed, Kind::on_taken, "K R k o"},
      {keyed, Kind::on_taken, keyed},
      {owed, Kind::on_taken, owed},
      {pending, Kind::on_taken, pending},
      {full, Kind::on_taken, full},
      {given_up, Kind::on_taken, given_up},
      {exiting, Kind::on_taken, exiting},
      // Refused: the account before the on command, an owed off command included.
      {idle, Kind::on_refused, idle, Send::nothing, refused},
      {in_flight, Kind::on_refused, idle, Send::nothing, refused},
      {in_flight_over_owed, Kind::on_refused, "K O R k o", Send::nothing, refused},
      {keyed, Kind::on_refused, keyed, Send::nothing, refused},
      {owed, Kind::on_refused, owed, Send::nothing, refused},
      {pending, Kind::on_refused, pending, Send::nothing, refused},
      {full, Kind::on_refused, full, Send::nothing, refused},
      {given_up, Kind::on_refused, given_up, Send::nothing, refused},
      {exiting, Kind::on_refused, exiting, Send::nothing, refused},
      {"K X F", Kind::on_refused, "K X", Send::nothing, refused},
      // Unanswered: pending, up to the cap; beyond it the oldest is given up.
      {idle, Kind::on_unanswered, "P1"},
      {in_flight, Kind::on_unanswered, "K P1"},
      {in_flight_over_owed, Kind::on_unanswered, "K R k o P1"},
      {keyed, Kind::on_unanswered, "K P1"},
      {owed, Kind::on_unanswered, "K O R P1"},
      {pending, Kind::on_unanswered, "K O R P2"},
      {full, Kind::on_unanswered, "K O R P16 G", Send::nothing, {Line::pending_given_up}, false,
       true},
      {given_up, Kind::on_unanswered, "K O R P1 G"},
      {exiting, Kind::on_unanswered, "K O R X P1"},
      // A transmission asks to unkey: refused only on the way out.
      {idle, Kind::off_requested, idle, off},
      {in_flight, Kind::off_requested, in_flight, off},
      {in_flight_over_owed, Kind::off_requested, in_flight_over_owed, off},
      {keyed, Kind::off_requested, keyed, off},
      {owed, Kind::off_requested, owed, off},
      {pending, Kind::off_requested, pending, off},
      {full, Kind::off_requested, full, off},
      {given_up, Kind::off_requested, given_up, off},
      {exiting, Kind::off_requested, exiting},
      // Delivered: it settles only when no on command is unanswered.
      {idle, Kind::off_delivered, idle, Send::nothing, {}, true},
      {in_flight, Kind::off_delivered, in_flight},
      {in_flight_over_owed, Kind::off_delivered, in_flight_over_owed},
      {keyed, Kind::off_delivered, keyed, Send::nothing, {}, true},
      {owed, Kind::off_delivered, owed, Send::nothing, {}, true},
      {pending, Kind::off_delivered, pending},
      {full, Kind::off_delivered, full},
      {given_up, Kind::off_delivered, given_up},
      {exiting, Kind::off_delivered, exiting, Send::nothing, {}, true},
      // Taken: unkeyed, said so when the operator was told otherwise.
      {idle, Kind::off_taken, idle},
      {in_flight, Kind::off_taken, "F"},
      {in_flight_over_owed, Kind::off_taken, "F k o", Send::nothing, unkeyed},
      {keyed, Kind::off_taken, idle},
      {owed, Kind::off_taken, idle, Send::nothing, unkeyed},
      {pending, Kind::off_taken, "P1", Send::nothing, unkeyed},
      {full, Kind::off_taken, "P16", Send::nothing, unkeyed},
      {given_up, Kind::off_taken, "G", Send::nothing, unkeyed},
      {exiting, Kind::off_taken, exiting},
      // Refused: owed while keyed, said once.
      {idle, Kind::off_refused, idle, Send::nothing, refused},
      {in_flight, Kind::off_refused, "K O R F", Send::nothing, {Line::refused, Line::unkey_owed}},
      {in_flight_over_owed, Kind::off_refused, "K O R F k o", Send::nothing, refused},
      {keyed, Kind::off_refused, owed, Send::nothing, {Line::refused, Line::unkey_owed}},
      {owed, Kind::off_refused, owed, Send::nothing, refused},
      {pending, Kind::off_refused, pending, Send::nothing, refused},
      {full, Kind::off_refused, full, Send::nothing, refused},
      {given_up, Kind::off_refused, given_up, Send::nothing, refused},
      {exiting, Kind::off_refused, exiting, Send::nothing, refused},
      // Not taken: as refused, without the refusal.
      {idle, Kind::off_not_taken, idle},
      {in_flight, Kind::off_not_taken, "K O R F", Send::nothing, unkey_owed},
      {in_flight_over_owed, Kind::off_not_taken, "K O R F k o"},
      {keyed, Kind::off_not_taken, owed, Send::nothing, unkey_owed},
      {owed, Kind::off_not_taken, owed},
      {pending, Kind::off_not_taken, pending},
      {full, Kind::off_not_taken, full},
      {given_up, Kind::off_not_taken, given_up},
      {exiting, Kind::off_not_taken, exiting},
      // A kept on command answered or closed: no longer pending, keyed still.
      {idle, Kind::late_taken, idle},
      {in_flight, Kind::late_taken, in_flight},
      {in_flight_over_owed, Kind::late_taken, in_flight_over_owed},
      {keyed, Kind::late_taken, keyed},
      {owed, Kind::late_taken, owed},
      {pending, Kind::late_taken, owed},
      {full, Kind::late_taken, "K O R P15"},
      {given_up, Kind::late_taken, given_up},
      {exiting, Kind::late_taken, exiting},
      {"K O R X P2", Kind::late_taken, "K O R X P1"},
      // Refused late: the same, and said.
      {idle, Kind::late_refused, idle, Send::nothing, refused},
      {in_flight, Kind::late_refused, in_flight, Send::nothing, refused},
      {in_flight_over_owed, Kind::late_refused, in_flight_over_owed, Send::nothing, refused},
      {keyed, Kind::late_refused, keyed, Send::nothing, refused},
      {owed, Kind::late_refused, owed, Send::nothing, refused},
      {pending, Kind::late_refused, owed, Send::nothing, refused},
      {full, Kind::late_refused, "K O R P15", Send::nothing, refused},
      {given_up, Kind::late_refused, given_up, Send::nothing, refused},
      {exiting, Kind::late_refused, exiting, Send::nothing, refused},
      // The main thread's turn: the off command again while owed.
      {idle, Kind::retry_tick, idle},
      {in_flight, Kind::retry_tick, in_flight},
      {in_flight_over_owed, Kind::retry_tick, in_flight_over_owed},
      {keyed, Kind::retry_tick, keyed},
      {owed, Kind::retry_tick, owed, off},
      {pending, Kind::retry_tick, pending, off},
      {full, Kind::retry_tick, full, off},
      {given_up, Kind::retry_tick, given_up, off},
      {exiting, Kind::retry_tick, exiting},
      // The exit: the off command while anything may be keyed, once.
      {idle, Kind::exit_requested, "X"},
      {in_flight, Kind::exit_requested, "K X F", off},
      {in_flight_over_owed, Kind::exit_requested, "K R X F k o", off},
      {keyed, Kind::exit_requested, "K X", off},
      {owed, Kind::exit_requested, exiting, off},
      {pending, Kind::exit_requested, "K O R X P1", off},
      {full, Kind::exit_requested, "K O R X P16", off},
      {given_up, Kind::exit_requested, "K O R X G", off},
      {exiting, Kind::exit_requested, exiting},
      {"O", Kind::exit_requested, "O X", off},
      {"P1", Kind::exit_requested, "X P1", off},
      {"G", Kind::exit_requested, "X G", off},
      // --unkey: keyed, whatever came before.
      {idle, Kind::unkey_requested, keyed},
      {in_flight, Kind::unkey_requested, in_flight},
      {in_flight_over_owed, Kind::unkey_requested, in_flight_over_owed},
      {keyed, Kind::unkey_requested, keyed},
      {owed, Kind::unkey_requested, owed},
      {pending, Kind::unkey_requested, pending},
      {full, Kind::unkey_requested, full},
      {given_up, Kind::unkey_requested, given_up},
      {exiting, Kind::unkey_requested, exiting},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string("state \"") + r.state + "\", event " +
                 std::to_string(static_cast<int>(r.event)));
    check(r, {.kind = r.event, .purpose = OffPurpose::transmission, .settles = true});
  }
}

// The answers to off commands delivered while an on command was unanswered,
// to the retries' and to the exit's: none of them settles but the settling
// one, the retries print no refusal, and the exit's say why it may be keyed.
TEST(KeyingAccount, OffAnswersByCommand) {
  const struct {
    const char* name;
    Row row;
    OffPurpose purpose;
    bool settles;
  } cases[] = {
      {"taken while an on command was in flight", {keyed, Kind::off_taken, owed, Send::nothing,
        {Line::unkey_owed}}, OffPurpose::transmission, false},
      {"taken while one was pending", {pending, Kind::off_taken, pending}, OffPurpose::transmission,
       false},
      {"retry taken", {owed, Kind::off_taken, idle, Send::nothing, {Line::unkeyed}},
       OffPurpose::retry, true},
      {"retry taken while pending", {pending, Kind::off_taken, pending}, OffPurpose::retry, false},
      {"retry refused", {owed, Kind::off_refused, owed}, OffPurpose::retry, true},
      {"retry not taken", {owed, Kind::off_not_taken, owed}, OffPurpose::retry, true},
      {"exit taken", {exiting, Kind::off_taken, exiting}, OffPurpose::exit, true},
      {"exit taken while pending", {"K X P1", Kind::off_taken, "K X P1", Send::nothing,
        {Line::exit_on_pending}}, OffPurpose::exit, false},
      {"exit refused", {exiting, Kind::off_refused, exiting, Send::nothing,
        {Line::refused, Line::exit_not_taken}}, OffPurpose::exit, true},
      {"exit not taken", {exiting, Kind::off_not_taken, exiting, Send::nothing,
        {Line::exit_not_taken}}, OffPurpose::exit, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    check(c.row, {.kind = c.row.event, .purpose = c.purpose, .settles = c.settles});
  }
}

// Feeds events in order, each off answer with what its delivery returned.
struct Sequence {
  KeyingStep step(Kind kind, OffPurpose purpose = OffPurpose::transmission) {
    KeyingEvent e{.kind = kind, .purpose = purpose, .settles = off_settles};
    KeyingStep s = keying_next(a, e);
    if (kind == Kind::off_delivered) off_settles = s.settles;
    a = s.account;
    return s;
  }
  KeyingAccount a;
  bool off_settles = false;
};

// The stalled daemon: the on command waits in its listen queue, the off
// command of the same transmission is taken first. The account stays keyed
// through the retries until the on command is answered; the next off command
// taken settles it.
TEST(KeyingAccount, AnOffCommandTakenBeforeTheUnansweredOnCommandSettlesNothing) {
  Sequence s;
  (void)s.step(Kind::on_delivered);
  (void)s.step(Kind::off_delivered);
  (void)s.step(Kind::on_unanswered);
  EXPECT_EQ(s.step(Kind::off_taken).lines, Lines{Line::unkey_owed});
  for (int retry = 0; retry < 3; ++retry) {
    ASSERT_EQ(s.step(Kind::retry_tick).send, Send::off);
    (void)s.step(Kind::off_delivered, OffPurpose::retry);
    EXPECT_EQ(s.step(Kind::off_taken, OffPurpose::retry).lines, Lines{});
    EXPECT_TRUE(possibly_keyed(s.a));
  }
  (void)s.step(Kind::late_taken);
  ASSERT_EQ(s.step(Kind::retry_tick).send, Send::off);
  (void)s.step(Kind::off_delivered, OffPurpose::retry);
  EXPECT_EQ(s.step(Kind::off_taken, OffPurpose::retry).lines, Lines{Line::unkeyed});
  EXPECT_FALSE(possibly_keyed(s.a));
  EXPECT_EQ(s.step(Kind::retry_tick).send, Send::nothing);
}

// A refused keying while an off command is owed: the retries go on.
TEST(KeyingAccount, ARefusedKeyingKeepsTheOwedOffCommand) {
  Sequence s;
  (void)s.step(Kind::on_delivered);
  (void)s.step(Kind::on_taken);
  (void)s.step(Kind::off_delivered);
  (void)s.step(Kind::off_not_taken);
  ASSERT_EQ(s.step(Kind::retry_tick).send, Send::off);
  (void)s.step(Kind::on_delivered);
  EXPECT_EQ(s.step(Kind::retry_tick).send, Send::nothing);  // would cut the transmission
  (void)s.step(Kind::on_refused);
  EXPECT_EQ(s.step(Kind::retry_tick).send, Send::off);
}

}  // namespace

}  // namespace kestrelis
