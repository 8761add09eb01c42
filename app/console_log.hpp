#pragma once
// The operator's console: time-stamped lines, lines by level of detail, and
// plain lines. Every message brings its own line end ("\n", "\r\n") or none.

#include <cstdint>
#include <string>
#include <string_view>

// Where console text goes. Null (the default) means standard output; tests
// set it before any thread starts to capture what the operator would see.
using ConsoleSink = void (*)(std::string_view text);
extern ConsoleSink console_sink;

// Formats the message (cut to 299 characters) and prints "[time stamp] message".
[[gnu::format(printf, 1, 2)]] void console_log(const char* format, ...);

// As console_log when `level` is at most VerboseLevel; otherwise does nothing,
// not even format the message. Levels: 1 GUI link, 2 transmissions, 4 KISS
// framing, 5 socket failures.
[[gnu::format(printf, 2, 3)]] void verbose_log(int level, const char* format, ...);

// Prints the formatted message as it is, without time stamp.
[[gnu::format(printf, 1, 2)]] void console_print(const char* format, ...);

// Prints `text` as it is, without time stamp or formatting.
void console_text(std::string_view text);

// "DD/MM hh:mm:ss.mmm" (18 characters, local time, day before month) of
// calendar time `seconds`, with `milliseconds` (0-999) as its millisecond field.
std::string format_timestamp(int64_t seconds, int milliseconds);

// The time stamp of the current moment.
std::string format_timestamp_now();
