#include <windows.h>

#include <algorithm>
#include <mutex>

#include "platform/console.hpp"

namespace kestrelis {

namespace {
std::mutex console_mutex;
}

void console_write(std::string_view text) {
  // One lock around the whole text, so that another thread's line never
  // lands inside it. WriteFile takes the bytes as they are: no C runtime text
  // mode turns "\n" into "\r\n", so each line ends exactly as written, on a
  // console, a pipe or a file alike.
  std::lock_guard lock(console_mutex);
  static const HANDLE out = [] {
    // UTF-8 text shows as such in a console window; not a console: no effect.
    ::SetConsoleOutputCP(CP_UTF8);
    return ::GetStdHandle(STD_OUTPUT_HANDLE);
  }();
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  while (!text.empty()) {
    DWORD written = 0;
    const auto chunk = static_cast<DWORD>(std::min<size_t>(text.size(), 1u << 20));
    // A broken console leaves nowhere to report that it broke.
    if (!::WriteFile(out, text.data(), chunk, &written, nullptr) || written == 0) return;
    text.remove_prefix(written);
  }
}

}  // namespace kestrelis
