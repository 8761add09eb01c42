#include "keying/keying_account.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

namespace kestrelis {

namespace {

using Kind = KeyingEventKind;
using Line = KeyingLine;
using Lines = std::vector<KeyingLine>;
using Send = KeyingSend;

// An account written as flags, separated by blanks: K keyed, O unkey_owed, R
// unkey_reported, X exiting, F on_in_flight, k keyed_before, o owed_before, G
// pending_given_up, P<n> pending_on.
constexpr std::pair<char, bool KeyingAccount::*> flags[] = {
    {'K', &KeyingAccount::keyed},          {'O', &KeyingAccount::unkey_owed},
    {'R', &KeyingAccount::unkey_reported}, {'X', &KeyingAccount::exiting},
    {'F', &KeyingAccount::on_in_flight},   {'k', &KeyingAccount::keyed_before},
    {'o', &KeyingAccount::owed_before},    {'G', &KeyingAccount::pending_given_up}};

KeyingAccount account(std::string_view text) {
  KeyingAccount a;
  std::istringstream in{std::string(text)};
  for (std::string word; in >> word;) {
    if (word[0] == 'P') a.pending_on = std::stoi(word.substr(1));
    for (const auto& [letter, member] : flags) a.*member = a.*member || word[0] == letter;
  }
  return a;
}

std::string flags_of(const KeyingAccount& a) {
  std::string s;
  for (const auto& [letter, member] : flags) s += a.*member ? std::string(" ") + letter : "";
  return a.pending_on > 0 ? s + " P" + std::to_string(a.pending_on) : s;
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
  SCOPED_TRACE(std::string("state \"") + r.state + "\", event " +
               std::to_string(static_cast<int>(event.kind)) + ", off command " +
               std::to_string(static_cast<int>(event.purpose)));
  const KeyingStep step = keying_next(account(r.state), event);
  EXPECT_EQ(flags_of(step.account), flags_of(account(r.after)));
  EXPECT_EQ(step.send, r.send);
  EXPECT_EQ(step.lines, r.lines);
  EXPECT_EQ(step.settles, r.settles);
  EXPECT_EQ(step.close_oldest_pending, r.close_oldest);
}

// Every state against every event; off answers here are to a transmission's
// off command delivered when no on command was unanswered. A state that no
// row names for an event stays as it is, with the event's usual send and lines.
TEST(KeyingAccount, EveryStateAndEvent) {
  const Send on = Send::on, off = Send::off, none = Send::nothing;
  const Lines refused{Line::refused}, unkey_owed{Line::unkey_owed}, unkeyed{Line::unkeyed};
  const Lines refused_owed{Line::refused, Line::unkey_owed};
  const char* const states[] = {
      idle, in_flight, in_flight_over_owed, keyed, owed, pending, full, given_up, exiting};
  const std::tuple<Kind, Send, Lines> usual[] = {
      {Kind::on_requested, on, {}},       {Kind::on_delivered, none, {}},
      {Kind::on_taken, none, {}},         {Kind::on_refused, none, refused},
      {Kind::on_unanswered, none, {}},    {Kind::off_requested, off, {}},
      {Kind::off_delivered, none, {}},    {Kind::off_taken, none, {}},
      {Kind::off_refused, none, refused}, {Kind::off_not_taken, none, {}},
      {Kind::late_taken, none, {}},       {Kind::late_refused, none, refused},
      {Kind::retry_tick, none, {}},       {Kind::exit_requested, off, {}},
      {Kind::unkey_requested, none, {}}};
  const Row rows[] = {
      // A transmission asks to key or unkey: refused only on the way out.
      {exiting, Kind::on_requested, exiting},
      {exiting, Kind::off_requested, exiting},
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
      {in_flight, Kind::on_taken, "K"},
      {in_flight_over_owed, Kind::on_taken, "K R k o"},
      // Refused: the account before the on command, an owed off command included.
      {in_flight, Kind::on_refused, idle, none, refused},
      {in_flight_over_owed, Kind::on_refused, "K O R k o", none, refused},
      {"K X F", Kind::on_refused, "K X", none, refused},
      // Unanswered: pending, up to the cap; beyond it the oldest is given up.
      {idle, Kind::on_unanswered, "P1"},
      {in_flight, Kind::on_unanswered, "K P1"},
      {in_flight_over_owed, Kind::on_unanswered, "K R k o P1"},
      {keyed, Kind::on_unanswered, "K P1"},
      {owed, Kind::on_unanswered, "K O R P1"},
      {pending, Kind::on_unanswered, "K O R P2"},
      {full, Kind::on_unanswered, "K O R P16 G", none, {Line::pending_given_up}, false, true},
      {given_up, Kind::on_unanswered, "K O R P1 G"},
      {exiting, Kind::on_unanswered, "K O R X P1"},
      // Delivered: it settles only when no on command is unanswered.
      {idle, Kind::off_delivered, idle, none, {}, true},
      {keyed, Kind::off_delivered, keyed, none, {}, true},
      {owed, Kind::off_delivered, owed, none, {}, true},
      {exiting, Kind::off_delivered, exiting, none, {}, true},
      // Taken: unkeyed, said so when the operator was told otherwise.
      {in_flight, Kind::off_taken, "F"},
      {in_flight_over_owed, Kind::off_taken, "F k o", none, unkeyed},
      {keyed, Kind::off_taken, idle},
      {owed, Kind::off_taken, idle, none, unkeyed},
      {pending, Kind::off_taken, "P1", none, unkeyed},
      {full, Kind::off_taken, "P16", none, unkeyed},
      {given_up, Kind::off_taken, "G", none, unkeyed},
      // Refused: owed while keyed, said once; not taken: the same without the refusal.
      {in_flight, Kind::off_refused, "K O R F", none, refused_owed},
      {in_flight_over_owed, Kind::off_refused, "K O R F k o", none, refused},
      {keyed, Kind::off_refused, owed, none, refused_owed},
      {in_flight, Kind::off_not_taken, "K O R F", none, unkey_owed},
      {in_flight_over_owed, Kind::off_not_taken, "K O R F k o"},
      {keyed, Kind::off_not_taken, owed, none, unkey_owed},
      // A kept on command answered or closed: no longer pending, keyed still;
      // refused late, the same and said.
      {pending, Kind::late_taken, owed},
      {full, Kind::late_taken, "K O R P15"},
      {"K O R X P2", Kind::late_taken, "K O R X P1"},
      {pending, Kind::late_refused, owed, none, refused},
      {full, Kind::late_refused, "K O R P15", none, refused},
      // The main thread's turn: the off command again while owed.
      {owed, Kind::retry_tick, owed, off},
      {pending, Kind::retry_tick, pending, off},
      {full, Kind::retry_tick, full, off},
      {given_up, Kind::retry_tick, given_up, off},
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
  };
  std::vector<Row> all(std::begin(rows), std::end(rows));
  for (const auto& [event, send, lines] : usual) {
    for (const char* state : states) {
      bool listed = false;
      for (const Row& r : rows) listed |= r.event == event && std::string_view(r.state) == state;
      if (!listed) all.push_back({state, event, state, send, lines});
    }
  }
  ASSERT_EQ(all.size(), 9 * std::size(usual) + 5);  // every pair once, and five states more
  for (const Row& r : all) {
    check(r, {.kind = r.event, .purpose = OffPurpose::transmission, .settles = true});
  }
}

// The answers to off commands delivered while an on command was unanswered,
// to the retries' and to the exit's: none of them settles but the settling
// one, the retries print no refusal, and the exit's say why it may be keyed.
TEST(KeyingAccount, OffAnswersByCommand) {
  const OffPurpose transmission = OffPurpose::transmission, retry = OffPurpose::retry,
                   exit = OffPurpose::exit;
  const Kind taken = Kind::off_taken, refused = Kind::off_refused, not_taken = Kind::off_not_taken;
  const Send none = Send::nothing;
  // The off command's purpose, whether its delivery settled, the step.
  const std::tuple<OffPurpose, bool, Row> cases[] = {
      {transmission, false, {keyed, taken, owed, none, {Line::unkey_owed}}},
      {transmission, false, {pending, taken, pending}},
      {retry, true, {owed, taken, idle, none, {Line::unkeyed}}},
      {retry, false, {pending, taken, pending}},
      {retry, true, {owed, refused, owed}},
      {retry, true, {owed, not_taken, owed}},
      {exit, true, {exiting, taken, exiting}},
      {exit, false, {"K X P1", taken, "K X P1", none, {Line::exit_on_pending}}},
      {exit, true, {exiting, refused, exiting, none, {Line::refused, Line::exit_not_taken}}},
      {exit, true, {exiting, not_taken, exiting, none, {Line::exit_not_taken}}}};
  for (const auto& [purpose, settles, row] : cases) {
    check(row, {.kind = row.event, .purpose = purpose, .settles = settles});
  }
}

}  // namespace

}  // namespace kestrelis
