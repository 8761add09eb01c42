#include "app/console_log.hpp"

#include <array>
#include <cstdarg>
#include <cstdio>

#include "app/config.hpp"
#include "platform/clock.hpp"
#include "platform/console.hpp"

ConsoleSink console_sink = nullptr;

namespace {

constexpr size_t message_capacity = 300;  // 299 characters and the terminating zero

void emit(std::string_view text) {
  if (console_sink != nullptr) {
    console_sink(text);
  } else {
    console_write(text);
  }
}

[[gnu::format(printf, 1, 0)]] std::string format_message(const char* format, va_list args) {
  std::array<char, message_capacity> message{};
  int n = std::vsnprintf(message.data(), message.size(), format, args);
  if (n < 0) return {};
  return std::string(message.data());
}

void emit_logged(const std::string& message) {
  // The whole line in one write, so that lines of different threads never mix.
  std::string line = format_timestamp_now();
  line.insert(line.begin(), '[');
  line.append("] ").append(message);
  emit(line);
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

void console_log(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string message = format_message(format, args);
  va_end(args);
  emit_logged(message);
}

void verbose_log(int level, const char* format, ...) {
  if (level > tnc_config.VerboseLevel) return;
  va_list args;
  va_start(args, format);
  std::string message = format_message(format, args);
  va_end(args);
  emit_logged(message);
}

void console_print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::array<char, 1024> text{};
  int n = std::vsnprintf(text.data(), text.size(), format, args);
  va_end(args);
  if (n >= 0) emit(text.data());
}

void console_text(std::string_view text) { emit(text); }
