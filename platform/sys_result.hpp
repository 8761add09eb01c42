#pragma once
// The outcome of a platform call that can fail with a system error: which
// step failed and with which error number. The text is made by error_text,
// at the edge that prints it.

#include <string>

namespace kestrelis {

// The step of a platform call that failed.
enum class SysStep {
  none,
  // sockets
  resolve,   // the host or service name (or a dotted address that does not parse)
  socket,    // making the socket
  connect,
  bind,
  listen,
  option,    // setting a socket option or mode
  send,
  shutdown,
  // files
  open,         // opening or creating a file, a folder or pipe in its place refused
  write,
  sync,         // flushing the written bytes to the disk
  close,        // closing, which reports a write the system had held back
  rename,       // putting the new file in place of the old
  lock,
  make_folder,  // creating a folder, or finding a file where it should be
  remove,
};

// `error` is the system's error number: an errno value (a Windows Sockets
// code for a socket call on Windows), or the resolver's own code for resolve.
// It is 0 exactly when `failed_at` is none.
struct [[nodiscard]] SysResult {
  SysStep failed_at = SysStep::none;
  int error = 0;

  [[nodiscard]] bool ok() const { return failed_at == SysStep::none; }
};

// `error` as the outcome of `step`: success when it is 0.
[[nodiscard]] constexpr SysResult sys_result(SysStep step, int error) {
  return error == 0 ? SysResult{} : SysResult{step, error};
}

// The system's description of an error number.
[[nodiscard]] std::string error_text(int error_number);

// The description of a failure: "cannot resolve the host" for resolve (its
// code is no error number), else error_text of its error number.
[[nodiscard]] std::string error_text(const SysResult& result);

}  // namespace kestrelis
