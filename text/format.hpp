#pragma once
// Text made from values: printf-style formatting into a string, and bytes as a
// terminal may show them. Pure; used by the console and by every layer that
// builds text for it.

#include <cstdint>
#include <span>
#include <string>

#include "platform/printf_format.hpp"

namespace kestrelis {

// `bytes` as a terminal may show them: 0x20 to 0x7E as they are, every other
// byte as \xnn, so that text from a peer cannot drive the terminal.
[[nodiscard]] std::string printable_text(std::span<const uint8_t> bytes);

// printf-style into a string of whatever length the text needs.
PRINTF_FORMAT(1, 2) [[nodiscard]] std::string format_text(const char* format, ...);

}  // namespace kestrelis
