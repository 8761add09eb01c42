#pragma once
// How long the TNC's exit path may wait, by the kind of ending. An ordinary
// ending (Ctrl+C, SIGTERM, SIGHUP) gives each wait its own time. An ending the
// system follows by ending the process itself (a closed console window, a
// log-off or a shut-down on Windows, about 5 s later) gets 4 s for the whole
// path, counted from the event:
//   0 ... 2.5 s    the off command: connected, sent and answered
//   ... 3.7 s      the packet log and the recording drained, with what is left
//   ... 4 s        the statistics printed and the process ended

#include <cstdint>

namespace kestrelis {

constexpr int64_t end_soon_budget_ms = 4000;
constexpr int64_t end_soon_unkey_ms = 2500;
constexpr int64_t end_soon_drain_until_ms = 3700;

// The monotonic_ns() by which the off command must be answered, for an
// ending caught at `caught_ms` (monotonic_ms()), as Keyer::unkey_for_exit
// takes it: the largest int64_t for an ordinary ending, which leaves the
// keyer's own time-outs (2 s to connect, 5 s for the answer).
[[nodiscard]] int64_t exit_unkey_deadline_ns(bool must_end_soon, int64_t caught_ms);

// How long the archive queues may be drained when the off command is done at
// `now_ms`: archive_drain_ms for an ordinary ending, else what is left of
// the budget's drain share (never more than archive_drain_ms, never below 0).
[[nodiscard]] int exit_drain_ms(bool must_end_soon, int64_t caught_ms, int64_t now_ms);

}  // namespace kestrelis
