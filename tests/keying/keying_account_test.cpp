#include "keying/keying_account.hpp"

#include <gtest/gtest.h>

#include <set>
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

// The states the account reaches, by name: in_flight keying, the answer still
// to come; in_flight_over_owed keying while an off command was owed; keyed the
// on command taken; owed an off command not taken; pending an on command
// unanswered as well; full as many unanswered as are kept; given_up one of
// them closed unanswered.
constexpr std::pair<std::string_view, std::string_view> named[] = {
    {"idle", ""},          {"in_flight", "K F"},    {"in_flight_over_owed", "K R F k o"},
    {"keyed", "K"},        {"owed", "K O R"},       {"pending", "K O R P1"},
    {"full", "K O R P16"}, {"given_up", "K O R G"}, {"exiting", "K O R X"}};

// An account by name or as flags.
KeyingAccount account(std::string_view text) {
  for (const auto& [name, as_flags] : named) text = text == name ? as_flags : text;
  KeyingAccount a;
  std::istringstream in{std::string(text)};
  for (std::string word; in >> word;) {
    EXPECT_TRUE(word.size() == 1 || word[0] == 'P') << "not a state: " << text;
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

// One event from several states, each "state>after", ";" between, and what
// the event returns from each.
struct Row {
  Kind event;
  std::string moves;
  Send send = Send::nothing;
  Lines lines = {};
  bool settles = false;
  bool close_oldest = false;
};

// Checks each move of `r` with `event` of its kind; returns the states moved from.
[[nodiscard]] std::vector<std::string> check(const Row& r, KeyingEvent event) {
  std::vector<std::string> states;
  std::istringstream in(r.moves);
  for (std::string move; std::getline(in >> std::ws, move, ';');) {
    states.push_back(move.substr(0, move.find('>')));
    SCOPED_TRACE(testing::Message()
                 << "state " << states.back() << ", event " << static_cast<int>(event.kind)
                 << ", off command " << static_cast<int>(event.purpose));
    const KeyingStep s = keying_next(account(states.back()), event);
    EXPECT_EQ(std::tuple(flags_of(s.account), s.send, s.lines, s.settles, s.close_oldest_pending),
              std::tuple(flags_of(account(move.substr(move.find('>') + 1))), r.send, r.lines,
                         r.settles, r.close_oldest));
  }
  return states;
}

// Every state against every event; off answers here are to a transmission's
// off command delivered when no on command was unanswered. A state that no
// row names for an event stays as it is, with the event's usual send and lines.
TEST(KeyingAccount, EveryStateAndEvent) {
  const Send on = Send::on, off = Send::off, none = Send::nothing;
  const Lines refused{Line::refused}, unkey_owed{Line::unkey_owed}, unkeyed{Line::unkeyed};
  const Lines refused_owed{Line::refused, Line::unkey_owed};
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
      {Kind::on_requested, "exiting>exiting"},
      {Kind::off_requested, "exiting>exiting"},
      // Delivered: keyed on purpose, the retries stop, the account before is kept.
      {Kind::on_delivered,
       "idle>K F; in_flight>K F k; in_flight_over_owed>K R F k; keyed>K F k; owed>K R F k o; "
       "pending>K R F k o P1; full>K R F k o P16; given_up>K R F k o G; exiting>K R X F k o"},
      // Taken: keyed.
      {Kind::on_taken, "in_flight>K; in_flight_over_owed>K R k o"},
      // Refused: the account before the on command, an owed off command included.
      {Kind::on_refused, "in_flight>idle; in_flight_over_owed>K O R k o; K X F>K X", none, refused},
      // Unanswered: pending, up to the cap; beyond it the oldest is given up.
      {Kind::on_unanswered,
       "idle>P1; in_flight>K P1; in_flight_over_owed>K R k o P1; keyed>K P1; owed>K O R P1; "
       "pending>K O R P2; given_up>K O R P1 G; exiting>K O R X P1"},
      {Kind::on_unanswered, "full>K O R P16 G", none, {Line::pending_given_up}, false, true},
      // Delivered: it settles only when no on command is unanswered.
      {Kind::off_delivered, "idle>idle; keyed>keyed; owed>owed; exiting>exiting", none, {}, true},
      // Taken: unkeyed, said so when the operator was told otherwise.
      {Kind::off_taken, "in_flight>F; keyed>idle"},
      {Kind::off_taken, "in_flight_over_owed>F k o; owed>idle; pending>P1; full>P16; given_up>G",
       none, unkeyed},
      // Refused: owed while keyed, said once; not taken: the same without the refusal.
      {Kind::off_refused, "in_flight>K O R F; keyed>owed", none, refused_owed},
      {Kind::off_refused, "in_flight_over_owed>K O R F k o", none, refused},
      {Kind::off_not_taken, "in_flight>K O R F; keyed>owed", none, unkey_owed},
      {Kind::off_not_taken, "in_flight_over_owed>K O R F k o"},
      // A kept on command answered or closed: no longer pending, keyed still;
      // refused late, the same and said.
      {Kind::late_taken, "pending>owed; full>K O R P15; K O R X P2>K O R X P1"},
      {Kind::late_refused, "pending>owed; full>K O R P15", none, refused},
      // The main thread's turn: the off command again while owed.
      {Kind::retry_tick, "owed>owed; pending>pending; full>full; given_up>given_up", off},
      // The exit: the off command while anything may be keyed, once.
      {Kind::exit_requested, "idle>X; exiting>exiting"},
      {Kind::exit_requested,
       "in_flight>K X F; in_flight_over_owed>K R X F k o; keyed>K X; owed>exiting; "
       "pending>K O R X P1; full>K O R X P16; given_up>K O R X G; O>O X; P1>X P1; G>X G",
       off},
      // --unkey: keyed, whatever came before.
      {Kind::unkey_requested, "idle>keyed"},
  };
  const auto delivered = [](Kind kind) {
    return KeyingEvent{.kind = kind, .purpose = OffPurpose::transmission, .settles = true};
  };
  std::set<std::pair<std::string, Kind>> listed;
  size_t checked = 0;
  for (const Row& r : rows) {
    for (const std::string& state : check(r, delivered(r.event))) {
      listed.emplace(state, r.event);
      ++checked;
    }
  }
  for (const auto& [event, send, lines] : usual) {
    for (const auto& [name, as_flags] : named) {
      if (listed.contains({std::string(name), event})) continue;
      const std::string stays = std::string(name) + ">" + std::string(name);
      checked += check({event, stays, send, lines}, delivered(event)).size();
    }
  }
  ASSERT_EQ(checked, 9 * std::size(usual) + 5);  // every pair once, and five states more
}

// The answers to off commands delivered while an on command was unanswered,
// to the retries' and to the exit's: none of them settles but the settling
// one, the retries print no refusal, and the exit's say why it may be keyed.
TEST(KeyingAccount, OffAnswersByCommand) {
  using enum OffPurpose;
  const Kind taken = Kind::off_taken, refused = Kind::off_refused, not_taken = Kind::off_not_taken;
  const Send none = Send::nothing;
  // The off command's purpose, whether its delivery settled, the step.
  const std::tuple<OffPurpose, bool, Row> cases[] = {
      {transmission, false, {taken, "keyed>owed", none, {Line::unkey_owed}}},
      {transmission, false, {taken, "pending>pending"}},
      {retry, true, {taken, "owed>idle", none, {Line::unkeyed}}},
      {retry, false, {taken, "pending>pending"}},
      {retry, true, {refused, "owed>owed"}},
      {retry, true, {not_taken, "owed>owed"}},
      {exit, true, {taken, "exiting>exiting"}},
      {exit, false, {taken, "K X P1>K X P1", none, {Line::exit_on_pending}}},
      {exit, true, {refused, "exiting>exiting", none, {Line::refused, Line::exit_not_taken}}},
      {exit, true, {not_taken, "exiting>exiting", none, {Line::exit_not_taken}}}};
  for (const auto& [purpose, settles, row] : cases) {
    (void)check(row, {.kind = row.event, .purpose = purpose, .settles = settles});
  }
}

}  // namespace

}  // namespace kestrelis
