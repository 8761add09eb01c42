// The forwarder's decisions over file histories: each row is the state the
// forwarder is in and what one look at the packet log shows.

#include "forward/forward_step.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "forward/post_answer.hpp"

namespace kestrelis {

namespace {

constexpr int64_t first_day_ms = 1'796'515'200'000;  // 2026-12-06 00:00 UTC
constexpr int64_t first_day = first_day_ms / 86'400'000;

const std::string day_6 = "2026-12-06.jsonl";
const std::string day_7 = "2026-12-07.jsonl";
const std::string day_9 = "2026-12-09.jsonl";

// Packet `number` of the log, as the TNC writes it; its last byte is `number`.
std::string log_line(int number) {
  const uint8_t packet[] = {0x8a, 0x00, 0x20, 0x00, 0x11, 0x22, 0x33, static_cast<uint8_t>(number)};
  return packet_log_line({first_day_ms + number * 1000, packet, 0, false, 1, 8, nullptr});
}

const std::string line_1 = log_line(1);
const std::string line_2 = log_line(2);
const std::string cut_1 = line_1.substr(0, 30);  // a line cut short by a power cut

// Unless a row says otherwise: at byte 100 of day 6, the only day file.
TEST(ForwardStep, DecisionsOverFileHistories) {
  const struct {
    const char* name = "";
    ForwardState state = {{day_6, 100}};
    std::string bytes = {};  // the day file from the offset on, as read
    std::vector<std::string> names = {day_6};
    int error = 0;
    std::optional<uint64_t> size = {};     // none: the offset plus the bytes read
    std::optional<uint64_t> grown_by = 0;  // since the read; none: cannot be examined
    // Expected:
    ForwardOutcome outcome = ForwardOutcome::wait;
    LogPosition next = {};
    uint64_t skipped = 0;
    int packet = 0;  // the number of the packet sent
    bool read_failing = false;
    bool read_again = false;
    bool say_unreadable = false;
  } cases[] = {
      {.name = "a whole line is sent",
       .bytes = line_1 + line_2,
       .outcome = ForwardOutcome::send,
       .next = {day_6, 100 + line_1.size()},
       .packet = 1},
      {.name = "a whole line goes before the next day, however the day file grows",
       .bytes = line_1,
       .names = {day_6, day_7},
       .grown_by = 50,
       .outcome = ForwardOutcome::send,
       .next = {day_6, 100 + line_1.size()},
       .packet = 1},
      {.name = "cut line ended by a line end",
       .state = {{day_6, 0}},
       .bytes = cut_1 + "\n" + line_2,
       .outcome = ForwardOutcome::skip_malformed,
       .next = {day_6, cut_1.size() + 1}},
      {.name = "cut line followed by the TNC's next line",
       .bytes = cut_1 + line_2,
       .outcome = ForwardOutcome::send,
       .next = {day_6, 100 + cut_1.size() + line_2.size()},
       .skipped = cut_1.size(),
       .packet = 2},
      {.name = "the line end written after a cut line",
       .state = {{day_6, 130}},
       .bytes = "\n" + line_1,
       .outcome = ForwardOutcome::pass_line_end,
       .next = {day_6, 131}},
      {.name = "a line as long as the limit without a line end",
       .state = {{day_6, 7}},
       .bytes = std::string(forward_piece_limit, 'x'),
       .names = {day_6, day_7},
       .outcome = ForwardOutcome::skip_long,
       .next = {day_6, 7 + forward_piece_limit},
       .skipped = forward_piece_limit},
      {.name = "unfinished last line, no next day",
       .bytes = cut_1,
       .outcome = ForwardOutcome::wait,
       .next = {day_6, 100},
       .skipped = cut_1.size()},
      {.name = "cut last line, next day",
       .bytes = cut_1,
       .names = {day_6, day_7},
       .outcome = ForwardOutcome::next_day,
       .next = {day_7, 0},
       .skipped = cut_1.size()},
      {.name = "cut last line, yesterday still growing",
       .bytes = cut_1,
       .names = {day_6, day_7},
       .grown_by = line_1.size() - cut_1.size(),
       .outcome = ForwardOutcome::wait,
       .next = {day_6, 100},
       .skipped = cut_1.size()},
      {.name = "day file removed, a later one exists",
       .names = {day_7},
       .error = ENOENT,
       .size = 0,
       .grown_by = std::nullopt,
       .outcome = ForwardOutcome::next_day,
       .next = {day_7, 0}},
      {.name = "day file cannot be read",
       .names = {day_6, day_7},
       .error = EIO,
       .size = 0,
       .outcome = ForwardOutcome::unreadable,
       .next = {day_6, 100},
       .read_failing = true,
       .say_unreadable = true},
      {.name = "day file still cannot be read",
       .state = {{day_6, 100}, true},
       .names = {day_6, day_7},
       .error = EACCES,
       .size = 0,
       .outcome = ForwardOutcome::unreadable,
       .next = {day_6, 100},
       .read_failing = true},
      {.name = "day file read again",
       .state = {{day_6, 100}, true},
       .bytes = line_1,
       .outcome = ForwardOutcome::send,
       .next = {day_6, 100 + line_1.size()},
       .packet = 1,
       .read_again = true},
      {.name = "day file shrunk below the position",
       .state = {{day_6, 500}},
       .names = {day_6, day_7},
       .size = 499,
       .outcome = ForwardOutcome::shrunk,
       .next = {day_6, 499}},
      {.name = "day file exactly as long as the position",
       .state = {{day_6, 500}},
       .size = 500,
       .outcome = ForwardOutcome::wait,
       .next = {day_6, 500}},
      {.name = "the first day file appears",
       .state = {},
       .names = {day_7, "notes.txt", day_6},
       .outcome = ForwardOutcome::next_day,
       .next = {day_6, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const uint64_t size = c.size.value_or(c.state.position.offset + c.bytes.size());
    std::optional<uint64_t> size_after;
    if (c.grown_by) size_after = size + *c.grown_by;
    const ForwardStep step = forward_step(c.state, {c.error, size, c.bytes, c.names, size_after});
    EXPECT_EQ(step.outcome, c.outcome);
    EXPECT_EQ(step.state.position.day_file, c.next.day_file);
    EXPECT_EQ(step.state.position.offset, c.next.offset);
    EXPECT_EQ(step.state.read_failing, c.read_failing);
    EXPECT_EQ(step.skipped, c.skipped);
    EXPECT_EQ(step.read_again, c.read_again);
    EXPECT_EQ(step.say_unreadable, c.say_unreadable);
    if (c.packet != 0) {
      ASSERT_EQ(step.packet.frame.size(), 8u);
      EXPECT_EQ(step.packet.frame.back(), c.packet);
    }
  }
}

TEST(ForwardStep, DayFileDays) {
  const std::pair<const char*, std::optional<int64_t>> cases[] = {
      {"1970-01-01.jsonl", 0},
      {"1969-12-31.jsonl", -1},
      {"2000-02-29.jsonl", 11016},
      {"2026-12-06.jsonl", first_day},
      {"2027-01-01.jsonl", first_day + 26},
      {"2023-02-29.jsonl", std::nullopt},
      {"1900-02-29.jsonl", std::nullopt},
      {"2026-04-31.jsonl", std::nullopt},
      {"2026-13-01.jsonl", std::nullopt},
      {"2026-00-10.jsonl", std::nullopt},
      {"2026-12-00.jsonl", std::nullopt},
      {"2026-12-6.jsonl", std::nullopt},
  };
  for (const auto& [name, day] : cases) EXPECT_EQ(day_file_day(name), day) << name;
}

TEST(ForwardStep, StartFromASavedPosition) {
  using enum StartDecision;
  const struct {
    const char* name;
    LogPosition saved;
    std::vector<std::string> names;
    int64_t today;
    StartDecision decision;
    const char* skip_to = "";  // the day file started from its beginning for skip_missing
  } cases[] = {
      {"saved day file exists", {day_6, 500}, {day_6, day_7}, first_day + 3, start},
      {"saved day is tomorrow (a clock a little ahead)", {day_7, 0}, {day_7}, first_day, start},
      {"saved day two days ahead",
       {"2026-12-08.jsonl", 0},
       {day_6, "2026-12-08.jsonl"},
       first_day,
       refuse_future},
      {"impossible day",
       {"2026-02-30.jsonl", 0},
       {"2026-02-30.jsonl"},
       first_day,
       refuse_impossible},
      {"saved day file gone, later ones exist",
       {day_6, 500},
       {"2026-12-04.jsonl", day_9, "notes.txt", day_7},
       first_day + 3,
       skip_missing,
       "2026-12-07.jsonl"},
      {"saved day file gone, only earlier ones",
       {day_7, 500},
       {day_6, "notes.txt"},
       first_day + 3,
       refuse_missing},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ForwardStart started = forward_start(c.saved, c.names, c.today);
    EXPECT_EQ(started.decision, c.decision);
    const LogPosition expected = c.decision == skip_missing ? LogPosition{c.skip_to, 0} : c.saved;
    if (c.decision == start || c.decision == skip_missing) {
      EXPECT_EQ(started.position.day_file, expected.day_file);
      EXPECT_EQ(started.position.offset, expected.offset);
    }
  }
}

// A saved offset inside a line: the file lost its end and the TNC wrote on.
TEST(ForwardStep, SavedOffsetInsideALine) {
  const std::string text = "ab\ncdef\n\nxyz";
  const struct {
    const char* name;
    uint64_t from;
    uint64_t offset;
    std::optional<uint64_t> line_start;
  } cases[] = {
      {"at the start", 0, 0, std::nullopt},
      {"just after a line end", 0, 3, std::nullopt},
      {"at the line end after a cut line", 0, 7, std::nullopt},
      {"inside a line", 0, 5, 3},
      {"inside the first line", 0, 1, 0},
      {"inside a line begun before the bytes looked at", 4, 6, 4},
      {"the file ends at the offset", 0, 12, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string_view near = std::string_view(text).substr(c.from, c.offset - c.from + 1);
    EXPECT_EQ(line_start_inside(near, c.from, c.offset), c.line_start);
  }
}

HttpAnswer answer_of(long status, std::string retry_after = "") {
  HttpAnswer answer;
  answer.status = status;
  answer.retry_after = std::move(retry_after);
  return answer;
}

HttpAnswer failure_of(HttpFailure failure) {
  HttpAnswer answer;
  answer.failure = failure;
  answer.error = "no";
  return answer;
}

// Every answer class, from the first post of a packet or after earlier
// failures, live (never giving up) and with --once (giving up after 300 s).
TEST(PostAnswer, WhatEachAnswerDoesToThePacket) {
  const RetryPolicy live{1000, 8000, std::nullopt};
  const RetryPolicy once{1000, 8000, 300'000};
  const RetryPolicy at_once{1000, 8000, 0};  // --give-up-s 0
  const PostState first{};
  const PostState third{2, 4000, 10'000};  // failing since 10 s
  const PostState longest{5, 8000, 0}, fortieth{40, 8000, 0};
  const struct {
    const char* name;
    HttpAnswer answer;
    PostState state = {};
    RetryPolicy policy = {};
    int64_t now_ms = 20'000;
    // Expected:
    PostAction action;
    int wait_ms = 0;
    int next_wait_ms = 0;  // of the state after a retry
  } cases[] = {
      {"201 Created", answer_of(201), first, live, 20'000, PostAction::delivered},
      {"200 after failures", answer_of(200), third, live, 20'000, PostAction::delivered},
      {"301 (no trailing slash)", answer_of(301), first, live, 20'000, PostAction::stop},
      {"400 bad input", answer_of(400), first, live, 20'000, PostAction::set_aside},
      {"401", answer_of(401), first, live, 20'000, PostAction::stop},
      {"403", answer_of(403), first, live, 20'000, PostAction::stop},
      {"404", answer_of(404), first, live, 20'000, PostAction::stop},
      {"405", answer_of(405), first, live, 20'000, PostAction::stop},
      {"413 this packet too large", answer_of(413), first, live, 20'000, PostAction::set_aside},
      {"408 first", answer_of(408), first, live, 20'000, PostAction::retry, 1000, 2000},
      {"429 with Retry-After", answer_of(429, "30"), first, live, 20'000, PostAction::retry, 30'000,
       2000},
      {"429 with a date", answer_of(429, "Wed, 21 Oct 2026 07:28:00 GMT"), third, live, 20'000,
       PostAction::retry, 4000, 8000},
      {"503 with Retry-After of a day", answer_of(503, "86400"), first, live, 20'000,
       PostAction::retry, 3'600'000, 2000},
      {"500 third", answer_of(500), third, live, 20'000, PostAction::retry, 4000, 8000},
      {"500 at the longest wait", answer_of(500), longest, live, 20'000, PostAction::retry, 8000,
       8000},
      {"refused, live, long after the first", failure_of(HttpFailure::connect), fortieth, live,
       10'000'000, PostAction::retry, 8000, 8000},
      {"refused, once, the wait ends at the give-up time", failure_of(HttpFailure::connect), third,
       once, 308'000, PostAction::retry, 2000, 8000},
      {"Retry-After beyond the give-up time", answer_of(429, "600"), third, once, 20'000,
       PostAction::retry, 290'000, 8000},
      {"refused, once, at the give-up time", failure_of(HttpFailure::connect), third, once, 310'000,
       PostAction::give_up},
      {"refused, giving up at once: the first failure is tried again",
       failure_of(HttpFailure::connect), first, at_once, 20'000, PostAction::retry, 0, 2000},
      {"refused, giving up at once, the second",
       failure_of(HttpFailure::connect),
       {1, 2000, 20'000},
       at_once,
       20'000,
       PostAction::give_up},
      {"a status no server sends", answer_of(700), first, live, 20'000, PostAction::retry, 1000,
       2000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const PostDecision decision = post_decision(c.state, c.answer, c.policy, c.now_ms);
    EXPECT_EQ(decision.action, c.action);
    if (c.action == PostAction::retry) {
      EXPECT_EQ(decision.wait_ms, c.wait_ms);
      EXPECT_EQ(decision.state.next_wait_ms, c.next_wait_ms);
      EXPECT_EQ(decision.state.failures, c.state.failures + 1);
      EXPECT_EQ(decision.state.failing_since_ms,
                c.state.failures == 0 ? c.now_ms : c.state.failing_since_ms);
    }
    if (c.action == PostAction::delivered || c.action == PostAction::set_aside) {
      EXPECT_EQ(decision.state.failures, 0);  // the next packet starts afresh
      EXPECT_EQ(decision.state.next_wait_ms, 0);
    }
  }
}

TEST(PostAnswer, RetryAfterValues) {
  const struct {
    const char* value;
    std::optional<int> ms;
  } cases[] = {{"0", 0},
               {"3600", 3'600'000},
               {"3601", 3'600'000},
               {"99999999999999999999", 3'600'000},
               {"", std::nullopt},
               {"-5", std::nullopt},
               {"Wed, 21 Oct 2026 07:28:00 GMT", std::nullopt}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(retry_after_ms(c.value), c.ms);
  }
}

TEST(PostAnswer, ReasonRedirectAndRejectedLine) {
  std::string two_byte;
  for (int i = 0; i < 250; ++i) two_byte += "\xC3\xA4";  // U+00E4, 2 bytes each
  const struct {
    const char* name;
    std::string body;
    std::string reason;
  } cases[] = {
      {"first line of several", "frame: not hexadecimal.\r\nmore\n", "frame: not hexadecimal."},
      {"blanks around it", "  bad input  \n", "bad input"},
      {"empty", "", ""},
      {"200 characters of ASCII", std::string(300, 'a'), std::string(200, 'a')},
      {"200 characters of two bytes each", two_byte, two_byte.substr(0, 400)},
      {"a control character and a byte that is no UTF-8",
       "a\x01"
       "b\xFF"
       "c",
       "a?b?c"},
      {"a sequence cut at the end", "ab\xC3", "ab?"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(answer_reason(c.body), c.reason);
  }

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
