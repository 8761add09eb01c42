#include "platform/console.hpp"

#include <unistd.h>

#include <cerrno>
#include <mutex>

namespace {
std::mutex console_mutex;
}

void console_write(std::string_view text) {
  // One lock around the whole text: write() may take a long text in pieces,
  // and those pieces must not be split by another thread's line.
  std::lock_guard lock(console_mutex);
  while (!text.empty()) {
    ssize_t n = ::write(STDOUT_FILENO, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // nowhere left to report a broken console
    }
    text.remove_prefix(static_cast<size_t>(n));
  }
}
