#include "console/console_log.hpp"

#include <array>
#include <cstdarg>
#include <cstdio>

#include "platform/clock.hpp"
#include "platform/console.hpp"

namespace kestrelis {

namespace {

constexpr size_t message_limit = 299;
constexpr size_t plain_capacity = 1024;  // 1023 characters and the terminating zero

void emit(const Console& console, std::string_view text) {
  if (console.sink) {
    console.sink(text);
  } else {
    console_write(text);
  }
}

PRINTF_FORMAT(2, 0) std::string format_limited(size_t capacity, const char* format,
                                                             va_list args) {
  std::string text(capacity, '\0');
  const int n = std::vsnprintf(text.data(), text.size(), format, args);
  if (n < 0) return {};
  text.resize(std::min(static_cast<size_t>(n), capacity - 1));
  return text;
}

}  // namespace

std::string format_timestamp(int64_t seconds, int milliseconds) {
  CalendarFields t = local_fields(seconds);
  std::array<char, 100> stamp{};
  std::snprintf(stamp.data(), stamp.size(), "%02d/%02d %02d:%02d:%02d.%03d", t.day, t.month, t.hour,
                t.minute, t.second, milliseconds);
  return std::string(stamp.data());
}

std::string format_timestamp_now() {
  // One clock reading: seconds and milliseconds read apart could disagree by
  // a second at a second boundary.
  const int64_t now_ms = now_unix_ms();
  return format_timestamp(now_ms / 1000, static_cast<int>(now_ms % 1000));
}

void log_message(const Console& console, std::string_view message) {
  // A message is cut at its first zero byte too, as a C string would be.
  message = message.substr(0, std::min(message.find('\0'), message_limit));
  // The whole line in one write, so that lines of different threads never mix.
  const std::string stamp = format_timestamp_now();
  std::string line;
  line.reserve(stamp.size() + message.size() + 3);
  line.append("[").append(stamp).append("] ").append(message);
  emit(console, line);
}

void console_log(const Console& console, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string message = format_limited(message_limit + 1, format, args);
  va_end(args);
  log_message(console, message);
}

void verbose_log(const Console& console, int level, const char* format, ...) {
  if (level > console.verbose_level) return;
  va_list args;
  va_start(args, format);
  const std::string message = format_limited(message_limit + 1, format, args);
  va_end(args);
  log_message(console, message);
}

void console_print(const Console& console, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = format_limited(plain_capacity, format, args);
  va_end(args);
  emit(console, text);
}

void console_text(const Console& console, std::string_view text) { emit(console, text); }

}  // namespace kestrelis
