#pragma once
// Standard output of the process, written without a user-space buffer.

#include <string_view>

namespace kestrelis {

// Writes `text` to standard output at once, in full, with no other thread's
// text inside it: a pipe or a log file sees every line as soon as it is made.
void console_write(std::string_view text);

}  // namespace kestrelis
