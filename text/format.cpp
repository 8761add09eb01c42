#include "text/format.hpp"

#include <cstdarg>
#include <cstdio>

namespace kestrelis {

std::string format_text(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text;
  if (n > 0) {
    text.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(text.data(), text.size(), format, again);
    text.resize(static_cast<size_t>(n));
  }
  va_end(again);
  return text;
}

std::string printable_text(std::span<const uint8_t> bytes) {
  std::string text;
  for (const uint8_t b : bytes) {
    if (b >= 0x20 && b < 0x7F) {
      text += static_cast<char>(b);
    } else {
      text += format_text("\\x%02x", unsigned{b});
    }
  }
  return text;
}

}  // namespace kestrelis
