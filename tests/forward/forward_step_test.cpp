// The forwarder's decisions over file histories: each row is the state the
// forwarder is in and what one look at the packet log shows.

#include "forward/forward_step.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <tuple>
#include <vector>

#include "forward/post_answer.hpp"

namespace kestrelis {

namespace {

constexpr int64_t first_day_ms = 1'796'515'200'000;  // 2026-12-06 00:00 UTC
constexpr int64_t first_day = first_day_ms / 86'400'000;

const std::string day_6 = "2026-12-06.jsonl";
const std::string day_7 = "2026-12-07.jsonl";

// Packet `number` of the log, as the TNC writes it; its last byte is `number`.
std::string log_line(int number) {
  const uint8_t packet[] = {0x8a, 0x00, 0x20, 0x00, 0x11, 0x22, 0x33, static_cast<uint8_t>(number)};
  return packet_log_line({first_day_ms + number * 1000, packet, 0, false, 1, 8, nullptr});
}

const std::string line_1 = log_line(1);
const std::string line_2 = log_line(2);
const std::string cut_1 = line_1.substr(0, 30);  // a line cut short by a power cut

// At `offset` of day 6, the only day file unless a row says otherwise.
ForwardState at(uint64_t offset, bool read_failing = false) {
  return {{day_6, offset}, read_failing};
}

TEST(ForwardStep, DecisionsOverFileHistories) {
  using enum ForwardOutcome;
  const std::vector<std::string> one = {day_6}, two = {day_6, day_7}, only_7 = {day_7};
  const std::vector<std::string> mixed = {day_7, "notes.txt", day_6};
  const struct {
    const char* name;
    ForwardState state;
    std::string bytes;  // the day file from the offset on, as read
    std::vector<std::string> names;
    // Expected:
    ForwardOutcome outcome;
    std::string next_file;
    uint64_t next_offset;
    uint64_t skipped = 0;
    int packet = 0;  // the last byte of the packet sent
    // The look, unless as usual:
    std::optional<uint64_t> grown_by = 0;  // since the read; none: cannot be examined
    std::optional<uint64_t> size = {};     // none: the offset plus the bytes read
    int error = 0;
    const char* flags = "";  // expected: "failing", "failing, say" or "again"
  } cases[] = {
      {"a whole line is sent", at(100), line_1 + line_2, one, send, day_6, 100 + line_1.size(), 0,
       1},
      {"a whole line goes before the next day, however the day file grows", at(100), line_1, two,
       send, day_6, 100 + line_1.size(), 0, 1, 50},
      {"cut line ended by a line end", at(0), cut_1 + "\n" + line_2, one, skip_malformed, day_6,
       cut_1.size() + 1},
      {"cut line followed by the TNC's next line", at(100), cut_1 + line_2, one, send, day_6,
       100 + cut_1.size() + line_2.size(), cut_1.size(), 2},
      {"the line end written after a cut line", at(130), "\n" + line_1, one, pass_line_end, day_6,
       131},
      {"a line as long as the limit without a line end", at(7),
       std::string(forward_piece_limit, 'x'), two, skip_long, day_6, 7 + forward_piece_limit,
       forward_piece_limit},
      {"unfinished last line, no next day", at(100), cut_1, one, wait, day_6, 100, cut_1.size()},
      {"cut last line, next day", at(100), cut_1, two, next_day, day_7, 0, cut_1.size()},
      {"cut last line, yesterday still growing", at(100), cut_1, two, wait, day_6, 100,
       cut_1.size(), 0, line_1.size() - cut_1.size()},
      {"day file removed, a later one exists", at(100), "", only_7, next_day, day_7, 0, 0, 0,
       std::nullopt, 0, ENOENT},
      {"day file cannot be read", at(100), "", two, unreadable, day_6, 100, 0, 0, 0, 0, EIO,
       "failing, say"},
      {"day file still cannot be read", at(100, true), "", two, unreadable, day_6, 100, 0, 0, 0, 0,
       EACCES, "failing"},
      {"day file read again", at(100, true), line_1, one, send, day_6, 100 + line_1.size(), 0, 1, 0,
       std::nullopt, 0, "again"},
      {"day file shrunk below the position", at(500), "", two, shrunk, day_6, 499, 0, 0, 0, 499},
      {"day file exactly as long as the position", at(500), "", one, wait, day_6, 500},
      {"the first day file appears", ForwardState(), "", mixed, next_day, day_6, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const uint64_t size = c.size.value_or(c.state.position.offset + c.bytes.size());
    const auto size_after = c.grown_by ? std::optional(size + *c.grown_by) : std::nullopt;
    const ForwardStep s = forward_step(c.state, {c.error, size, c.bytes, c.names, size_after});
    EXPECT_EQ(std::tie(s.outcome, s.state.position.day_file, s.state.position.offset, s.skipped),
              std::tie(c.outcome, c.next_file, c.next_offset, c.skipped));
    const std::string flags = std::string(s.state.read_failing ? "failing" : "") +
                              (s.say_unreadable ? ", say" : "") + (s.read_again ? "again" : "");
    EXPECT_EQ(flags, c.flags);
    EXPECT_EQ(s.packet.frame.empty() ? 0 : s.packet.frame.back(), c.packet);
  }
}

TEST(ForwardStep, StartFromASavedPosition) {
  using enum StartDecision;
  const std::string day_8 = "2026-12-08.jsonl", day_30 = "2026-02-30.jsonl";
  const std::vector<std::string> later = {"2026-12-04.jsonl", "2026-12-09.jsonl", "notes.txt",
                                          day_7};
  const std::vector<std::string> earlier = {day_6, "notes.txt"};
  // Each row: its name, the position saved, the day files, today, the decision
  // and the day file started from its beginning when the saved one is skipped.
  const std::tuple<const char*, LogPosition, std::vector<std::string>, int64_t, StartDecision,
                   std::string>
      cases[] = {
          {"saved day file exists", {day_6, 500}, {day_6, day_7}, first_day + 3, start, ""},
          {"saved day is tomorrow (a clock ahead)", {day_7, 0}, {day_7}, first_day, start, ""},
          {"saved day two days ahead", {day_8, 0}, {day_6, day_8}, first_day, refuse_future, ""},
          {"impossible day", {day_30, 0}, {day_30}, first_day, refuse_impossible, ""},
          {"gone, later ones exist", {day_6, 500}, later, first_day + 3, skip_missing, day_7},
          {"gone, only earlier ones", {day_7, 500}, earlier, first_day + 3, refuse_missing, ""},
      };
  for (const auto& [name, saved, names, today, decision, skip_to] : cases) {
    const ForwardStart s = forward_start(saved, names, today);
    const LogPosition expected = skip_to.empty() ? saved : LogPosition{skip_to, 0};
    EXPECT_EQ(std::tie(s.decision, s.position.day_file, s.position.offset),
              std::tie(decision, expected.day_file, expected.offset))
        << name;
  }
  // The day of a day file's name; none for a date that does not exist.
  EXPECT_EQ(day_file_day("2000-02-29.jsonl"), 11016);
  EXPECT_EQ(day_file_day("2027-01-01.jsonl"), first_day + 26);
  for (const char* no_day :
       {"2023-02-29.jsonl", "1900-02-29.jsonl", "2026-04-31.jsonl", "2026-13-01.jsonl",
        "2026-00-10.jsonl", "2026-12-00.jsonl", "2026-12-6.jsonl"})
    EXPECT_FALSE(day_file_day(no_day)) << no_day;
}

// A saved offset inside a line: the file lost its end and the TNC wrote on.
TEST(ForwardStep, SavedOffsetInsideALine) {
  const std::string text = "ab\ncdef\n\nxyz";
  // Each row: its name, the offset the bytes looked at start from, the saved
  // offset, and the start of the line it is inside (none: at a line start).
  const std::tuple<const char*, uint64_t, uint64_t, std::optional<uint64_t>> cases[] = {
      {"at the start", 0, 0, std::nullopt},
      {"just after a line end", 0, 3, std::nullopt},
      {"at the line end after a cut line", 0, 7, std::nullopt},
      {"inside a line", 0, 5, 3},
      {"inside the first line", 0, 1, 0},
      {"inside a line begun before the bytes looked at", 4, 6, 4},
      {"the file ends at the offset", 0, 12, std::nullopt},
  };
  for (const auto& [name, from, offset, line_start] : cases) {
    const std::string_view near = std::string_view(text).substr(from, offset - from + 1);
    EXPECT_EQ(line_start_inside(near, from, offset), line_start) << name;
  }
}

HttpAnswer answer_of(long status, const char* retry_after = "") {
  return {HttpFailure::none, status, "", false, "", retry_after, ""};
}

// Every answer class, from the first post of a packet or after earlier
// failures, live (never giving up) and with --once (giving up after 300 s).
TEST(PostAnswer, WhatEachAnswerDoesToThePacket) {
  using enum PostAction;
  const RetryPolicy once{1000, 8000, 300'000}, at_once{1000, 8000, 0};  // --give-up-s 0
  // The second and the third post of a packet, failing since 20 s and 10 s.
  const PostState first{}, second{1, 2000, 20'000}, third{2, 4000, 10'000};
  const PostState longest{5, 8000, 0}, fortieth{40, 8000, 0};
  const HttpAnswer refused{HttpFailure::connect, 0, "", false, "", "", "no"};
  const struct {
    const char* name;
    HttpAnswer answer;
    PostAction action;
    int wait_ms = 0;
    int next_wait_ms = 0;  // of the state after a retry
    PostState state = {};
    int64_t now_ms = 20'000;
    RetryPolicy policy = {1000, 8000, std::nullopt};  // live
  } cases[] = {
      {"201 Created", answer_of(201), delivered},
      {"200 after failures", answer_of(200), delivered, 0, 0, third},
      {"301 (no trailing slash)", answer_of(301), stop},
      {"400 bad input", answer_of(400), set_aside},
      {"401", answer_of(401), stop},
      {"403", answer_of(403), stop},
      {"404", answer_of(404), stop},
      {"405", answer_of(405), stop},
      {"413 this packet too large", answer_of(413), set_aside},
      {"408 first", answer_of(408), retry, 1000, 2000},
      {"429 with Retry-After", answer_of(429, "30"), retry, 30'000, 2000},
      {"429 with a date", answer_of(429, "Wed, 21 Oct 2026 07:28:00 GMT"), retry, 4000, 8000,
       third},
      {"503 with Retry-After of a day", answer_of(503, "86400"), retry, 3'600'000, 2000},
      {"500 third", answer_of(500), retry, 4000, 8000, third},
      {"500 at the longest wait", answer_of(500), retry, 8000, 8000, longest},
      {"refused, live, long after the first", refused, retry, 8000, 8000, fortieth, 10'000'000},
      {"refused, once, the wait ends at the give-up time", refused, retry, 2000, 8000, third,
       308'000, once},
      {"Retry-After beyond the give-up time", answer_of(429, "600"), retry, 290'000, 8000, third,
       20'000, once},
      {"refused, once, at the give-up time", refused, give_up, 0, 0, third, 310'000, once},
      {"refused, giving up at once: the first failure is tried again", refused, retry, 0, 2000,
       first, 20'000, at_once},
      {"refused, giving up at once, the second", refused, give_up, 0, 0, second, 20'000, at_once},
      {"a status no server sends", answer_of(700), retry, 1000, 2000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const PostDecision d = post_decision(c.state, c.answer, c.policy, c.now_ms);
    EXPECT_EQ(d.action, c.action);
    if (c.action == retry) {
      const int64_t since = c.state.failures == 0 ? c.now_ms : c.state.failing_since_ms;
      EXPECT_EQ(std::tie(d.wait_ms, d.state.next_wait_ms, d.state.failing_since_ms),
                std::tie(c.wait_ms, c.next_wait_ms, since));
      EXPECT_EQ(d.state.failures, c.state.failures + 1);
    }
    if (c.action == delivered || c.action == set_aside) {
      // The next packet starts afresh.
      EXPECT_EQ(std::tie(d.state.failures, d.state.next_wait_ms), std::tuple(0, 0));
    }
  }
}

TEST(PostAnswer, RetryAfterReasonRedirectAndRejectedLine) {
  const std::pair<const char*, std::optional<int>> waits[] = {
      {"0", 0},
      {"3600", 3'600'000},
      {"3601", 3'600'000},
      {"99999999999999999999", 3'600'000},
      {"", {}},
      {"-5", {}},
      {"Wed, 21 Oct 2026 07:28:00 GMT", {}}};
  for (const auto& [value, ms] : waits) EXPECT_EQ(retry_after_ms(value), ms) << value;

  std::string two_byte;
  for (int i = 0; i < 250; ++i) two_byte += "\xC3\xA4";  // U+00E4, 2 bytes each
  const std::pair<std::string, std::string> cases[] = {
      {"frame: not hexadecimal.\r\nmore\n", "frame: not hexadecimal."},  // the first line
      {"  bad input  \n", "bad input"},
      {"", ""},
      {std::string(300, 'a'), std::string(200, 'a')},  // 200 characters
      {two_byte, two_byte.substr(0, 400)},
      {"a\x01-\xFF-", "a?-?-"},  // a control character and a byte that is no UTF-8
      {"ab\xC3", "ab?"},         // a sequence cut at the end
  };
  for (const auto& [body, reason] : cases) EXPECT_EQ(answer_reason(body), reason) << body;

  EXPECT_EQ(redirect_target("https://db.example/api/telemetry/?a=1&b=2", "a=1&b=2"),
            "https://db.example/api/telemetry/");
  EXPECT_EQ(redirect_target("https://db.example/new?x=1", "a=1"), "https://db.example/new?x=1");

  EXPECT_EQ(rejected_line(R"({"received":"2026-12-06T00:00:01.000Z","port":8})", 400,
                          "frame: \"zz\" is not hex\\"),
            R"({"received":"2026-12-06T00:00:01.000Z","port":8,"http_status":400,)"
            R"("reason":"frame: \"zz\" is not hex\\"})"
            "\n");
}

}  // namespace

}  // namespace kestrelis
