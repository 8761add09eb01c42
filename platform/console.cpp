#include "platform/console.hpp"

#include <unistd.h>

#include <mutex>

#include "platform/files.hpp"

namespace kestrelis {

namespace {
std::mutex console_mutex;
}

void console_write(std::string_view text) {
  // One lock around the whole text: write() may take a long text in pieces,
  // and those pieces must not be split by another thread's line.
  std::lock_guard lock(console_mutex);
  // A broken console leaves nowhere to report that it broke.
  (void)write_all(STDOUT_FILENO, text);
}

}  // namespace kestrelis
