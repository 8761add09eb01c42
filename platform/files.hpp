#pragma once
// Environment, paths and files of the user's profile directory.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sys_result.hpp"

namespace kestrelis {

// The value of the environment variable `name`, or none when it is unset.
[[nodiscard]] std::optional<std::string> env_var(const char* name);

// `folder` and `name` joined by the system's separator (a slash on POSIX, a
// backslash on Windows), so that paths in messages look as the system writes them.
[[nodiscard]] std::string path_join(std::string_view folder, std::string_view name);

// True when a status query of `path` succeeds (file or folder exists).
[[nodiscard]] bool path_exists(const std::string& path);

// Creates the folder `path` with permission bits 0700 (make_folder).
[[nodiscard]] SysResult make_directory(const std::string& path);

// Writes all of `text` to `fd`, continuing short writes and resuming after
// signals (write).
[[nodiscard]] SysResult write_all(int fd, std::string_view text);

// Creates or truncates the file `path` and writes `text` to it (open, write,
// close); a partly written file is removed.
[[nodiscard]] SysResult write_text_file(const std::string& path, std::string_view text);

// Appends `text` to `path` with one write, creating the file (mode 0644) when
// it is missing, so that a line is never split by another writer (open,
// write, close).
[[nodiscard]] SysResult append_to_file(const std::string& path, std::string_view text);

// The whole content of `path`, or none when it cannot be read or is not a
// regular file (a pipe would wait for a writer).
[[nodiscard]] std::optional<std::string> read_whole_file(const std::string& path);

// Opens `path` for reading as text when it is a regular file. A folder or a
// pipe in its place is refused at once, neither read as empty nor waited on.
// Returns null when refused or not opened.
[[nodiscard]] std::FILE* open_regular_file(const std::string& path);

// True when `path` is a directory.
[[nodiscard]] bool is_directory(const std::string& path);

// True when `path` exists and holds at least one byte.
[[nodiscard]] bool file_has_content(const std::string& path);

// Creates `path` and every missing folder above it (permission bits 0700).
// Succeeds when the folder exists afterwards, else fails at make_folder.
[[nodiscard]] SysResult make_directories(const std::string& path);

// What is appended, and so what a missing file or a cut last line means.
enum class AppendKind {
  // A line of a text log: the file is created (mode 0644) when missing, and
  // one whose last byte is not "\n" (a line cut by a crash) gets a "\n"
  // before the bytes, so that the cut line stays one line of its own.
  log_line,
  // A record of a file made beforehand with its header: a missing file
  // (removed or moved away) is refused with ENOENT, never made again
  // without its header.
  record,
};

// Appends `bytes` to the regular file `path` with one write. The bytes are
// whole or absent: after a short write the file is cut back to its former
// size. A folder or a pipe in the way is refused at once, never waited on:
// EISDIR for a folder, EINVAL for any other file that is not a regular one
// (open); else write (ENOSPC for a short write) or close.
[[nodiscard]] SysResult append_whole(const std::string& path, std::string_view bytes,
                                     AppendKind kind);

// error_text of the error number append_whole failed with, EINVAL read as "not a
// regular file".
[[nodiscard]] std::string append_error_text(int error_number);

// Creates the file `path`, which must not exist yet (mode 0644), with
// `bytes` as its content: open fails with EEXIST when it exists; a partly
// written file is removed.
[[nodiscard]] SysResult create_new_file(const std::string& path, std::string_view bytes);

// Removes the file `path` (remove).
[[nodiscard]] SysResult remove_file(const std::string& path);

// The size of the file `path` in bytes, none when it cannot be examined.
[[nodiscard]] std::optional<uint64_t> file_size(const std::string& path);

// The file system holding the folder `path`: the bytes a program without
// special rights may still write to it, and its size. None when it cannot be
// examined.
struct DiskSpace {
  uint64_t free_bytes = 0;
  uint64_t total_bytes = 0;
};
[[nodiscard]] std::optional<DiskSpace> disk_space(const std::string& path);

// Up to `limit` bytes of a file from byte `offset` on, and the file's size
// when it was read; `error` (an errno value, ENOENT for a missing file) when
// it could not be read, in which case `bytes` is empty.
struct FilePart {
  std::string bytes;
  uint64_t size = 0;
  int error = 0;
};
[[nodiscard]] FilePart read_file_part(const std::string& path, uint64_t offset, size_t limit);

// Replaces the content of `path` by `text`: written beside it, flushed to
// the disk and renamed over it, so that the file holds the old text or the
// new, never a mix, also after a power cut (open, write, sync, close, rename).
[[nodiscard]] SysResult replace_file(const std::string& path, std::string_view text);

// The names of the regular files in the folder `path` (none when it cannot
// be read), in no particular order.
[[nodiscard]] std::vector<std::string> regular_file_names(const std::string& path);

// An exclusive lock on a file between processes, held until its owner goes
// out of scope or the process ends, however it ends.
class FileLock {
 public:
  FileLock() = default;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  FileLock(FileLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  FileLock& operator=(FileLock&&) = delete;
  ~FileLock();

 private:
  friend SysResult lock_file(const std::string& path, FileLock& lock);
  int fd_ = -1;
};

// Takes the lock on `path`, creating the file (mode 0644) when missing,
// without waiting: fails at lock with EWOULDBLOCK when another process holds
// it, else at open or lock with the error number.
[[nodiscard]] SysResult lock_file(const std::string& path, FileLock& lock);

}  // namespace kestrelis
