#pragma once
// The operator's console: time-stamped lines, lines by level of detail, and
// plain lines. Every message brings its own line end ("\n", "\r\n") or none.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "platform/printf_format.hpp"
#include "text/format.hpp"

namespace kestrelis {

// Where the console's text goes and how much of it. Set up by start-up before
// any worker thread starts and read-only afterwards; its functions may be
// called from any thread, and each text goes out whole, never mixed with
// another thread's.
struct Console {
  int verbose_level = 1;  // highest level of levelled lines shown
  // Receives each text instead of standard output when set (tests, tools).
  std::function<void(std::string_view text)> sink;
};

// Prints "[time stamp] message", the message cut to 299 characters.
void log_message(const Console& console, std::string_view message);

// Formats the message and prints it as log_message does.
PRINTF_FORMAT(2, 3) void console_log(const Console& console, const char* format, ...);

// As console_log when `level` is at most the console's verbose level;
// otherwise does nothing, not even format the message. Levels: 1 GUI link,
// 2 transmissions, 4 KISS framing, 5 socket failures.
PRINTF_FORMAT(3, 4) void verbose_log(const Console& console, int level,
                                                   const char* format, ...);

// Prints the formatted message (cut to 1023 characters) as it is, without time stamp.
PRINTF_FORMAT(2, 3) void console_print(const Console& console, const char* format,
                                                     ...);

// Prints `text` as it is, without time stamp or formatting.
void console_text(const Console& console, std::string_view text);

// "DD/MM hh:mm:ss.mmm" (18 characters, local time, day before month) of
// calendar time `seconds`, with `milliseconds` (0-999) as its millisecond field.
[[nodiscard]] std::string format_timestamp(int64_t seconds, int milliseconds);

// The time stamp of the current moment.
[[nodiscard]] std::string format_timestamp_now();

}  // namespace kestrelis
