#include "platform/files.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kestrelis {

std::optional<std::string> env_var(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

std::string path_join(std::string_view folder, std::string_view name) {
  std::string path(folder);
  path += '/';
  path += name;
  return path;
}

bool path_exists(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0;
}

SysResult make_directory(const std::string& path) {
  return sys_result(SysStep::make_folder, ::mkdir(path.c_str(), 0700) == 0 ? 0 : errno);
}

SysResult write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return {SysStep::write, errno};
    }
    text.remove_prefix(static_cast<size_t>(n));
  }
  return {};
}

namespace {

// Writes `text` to the open `fd` and closes it.
SysResult write_and_close(int fd, std::string_view text) {
  SysResult result = write_all(fd, text);
  if (::close(fd) != 0 && result.ok()) result = {SysStep::close, errno};
  return result;
}

}  // namespace

SysResult write_text_file(const std::string& path, std::string_view text) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return {SysStep::open, errno};
  const SysResult result = write_and_close(fd, text);
  if (!result.ok()) ::unlink(path.c_str());
  return result;
}

std::string error_text(int error_number) {
  char buffer[256] = {};
  return std::string(::strerror_r(error_number, buffer, sizeof buffer));
}

SysResult append_to_file(const std::string& path, std::string_view text) {
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return {SysStep::open, errno};
  return write_and_close(fd, text);
}

std::FILE* open_regular_file(const std::string& path) {
  // Without O_NONBLOCK, opening a pipe would wait for a writer.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  std::FILE* file = ::fdopen(fd, "r");
  if (file == nullptr) ::close(fd);
  return file;
}

std::optional<std::string> read_whole_file(const std::string& path) {
  // Without O_NONBLOCK, opening a pipe would wait for a writer.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  std::string text;
  std::array<char, 65536> chunk{};
  for (;;) {
    ssize_t n = ::read(fd, chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    text.append(chunk.data(), static_cast<size_t>(n));
  }
  ::close(fd);
  return text;
}

bool is_directory(const std::string& path) {
  struct stat s {};
  return ::stat(path.c_str(), &s) == 0 && S_ISDIR(s.st_mode);
}

bool file_has_content(const std::string& path) {
  struct stat s {};
  return ::stat(path.c_str(), &s) == 0 && s.st_size > 0;
}

SysResult make_directories(const std::string& path) {
  for (size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
    const std::string folder = path.substr(0, at);
    if (!folder.empty() && ::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
      return {SysStep::make_folder, errno};
    }
    if (at == std::string::npos) break;
  }
  return sys_result(SysStep::make_folder, is_directory(path) ? 0 : ENOTDIR);
}

SysResult append_whole(const std::string& path, std::string_view bytes, AppendKind kind) {
  const bool line = kind == AppendKind::log_line;
  // O_NONBLOCK: opening a pipe must not wait for a reader (without one it fails at once).
  const int fd = ::open(path.c_str(),
                        O_RDWR | O_APPEND | (line ? O_CREAT : 0) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                        0644);
  if (fd < 0) return {SysStep::open, errno == ENXIO ? EINVAL : errno};
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    const int error = S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
    ::close(fd);
    return {SysStep::open, error};
  }
  const off_t size_before = status.st_size;
  std::string joined;
  char last = '\n';
  if (line && size_before > 0 && ::pread(fd, &last, 1, size_before - 1) == 1 &&
      last != '\n') {
    joined.assign(bytes.size() + 1, '\n');
    std::copy(bytes.begin(), bytes.end(), joined.begin() + 1);
    bytes = joined;
  }
  ssize_t n = -1;
  do {
    n = ::write(fd, bytes.data(), bytes.size());
  } while (n < 0 && errno == EINTR);
  SysResult result = sys_result(SysStep::write, n < 0 ? errno : 0);
  if (n >= 0 && static_cast<size_t>(n) != bytes.size()) result = {SysStep::write, ENOSPC};
  if (!result.ok() && n > 0) {
    // A short write is cut back so that no half line stays. Should that fail
    // too, the next append starts on a new line and the half line stays one
    // malformed line.
    const int cut = ::ftruncate(fd, size_before);
    static_cast<void>(cut);
  }
  if (::close(fd) != 0 && result.ok()) result = {SysStep::close, errno};
  return result;
}

std::string append_error_text(int error_number) {
  return error_number == EINVAL ? "not a regular file" : error_text(error_number);
}

SysResult remove_file(const std::string& path) {
  return sys_result(SysStep::remove, ::unlink(path.c_str()) == 0 ? 0 : errno);
}

SysResult create_new_file(const std::string& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return {SysStep::open, errno};
  const SysResult result = write_and_close(fd, bytes);
  if (!result.ok()) ::unlink(path.c_str());
  return result;
}

std::optional<uint64_t> file_size(const std::string& path) {
  struct stat s {};
  if (::stat(path.c_str(), &s) != 0) return std::nullopt;
  return static_cast<uint64_t>(s.st_size);
}

std::optional<DiskSpace> disk_space(const std::string& path) {
  struct statvfs s {};
  if (::statvfs(path.c_str(), &s) != 0) return std::nullopt;
  return DiskSpace{.free_bytes = uint64_t{s.f_bavail} * s.f_frsize,
                   .total_bytes = uint64_t{s.f_blocks} * s.f_frsize};
}

FilePart read_file_part(const std::string& path, uint64_t offset, size_t limit) {
  FilePart part;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    part.error = errno;
    return part;
  }
  struct stat s {};
  if (::fstat(fd, &s) != 0) {
    part.error = errno;
    ::close(fd);
    return part;
  }
  part.size = static_cast<uint64_t>(s.st_size);
  if (part.size > offset) {
    part.bytes.resize(static_cast<size_t>(std::min<uint64_t>(part.size - offset, limit)));
  }
  size_t got = 0;
  while (got < part.bytes.size()) {
    const ssize_t n = ::pread(fd, part.bytes.data() + got, part.bytes.size() - got,
                              static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) part.error = errno;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  part.bytes.resize(part.error == 0 ? got : 0);
  return part;
}

SysResult replace_file(const std::string& path, std::string_view text) {
  // The new text reaches the disk before the rename, and the rename before
  // the return: after a power cut the file holds the old text or the new,
  // not an empty file the rename had pointed to before the data was written.
  const std::string temporary = path + ".new";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return {SysStep::open, errno};
  SysResult result = write_all(fd, text);
  if (result.ok() && ::fsync(fd) != 0) result = {SysStep::sync, errno};
  if (::close(fd) != 0 && result.ok()) result = {SysStep::close, errno};
  if (result.ok() && ::rename(temporary.c_str(), path.c_str()) != 0) {
    result = {SysStep::rename, errno};
  }
  if (!result.ok()) {
    ::unlink(temporary.c_str());
    return result;
  }
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
    (void)::fsync(dir);
    ::close(dir);
  }
  return {};
}

std::vector<std::string> regular_file_names(const std::string& path) {
  std::vector<std::string> names;
  DIR* folder = ::opendir(path.c_str());
  if (folder == nullptr) return names;
  while (const dirent* entry = ::readdir(folder)) {
    const std::string name = entry->d_name;
    struct stat s {};
    if (::stat((path + "/" + name).c_str(), &s) == 0 && S_ISREG(s.st_mode)) names.push_back(name);
  }
  ::closedir(folder);
  return names;
}

FileLock::~FileLock() {
  if (fd_ >= 0) ::close(fd_);
}

SysResult lock_file(const std::string& path, FileLock& lock) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
  if (fd < 0) return {SysStep::open, errno};
  int result = 0;
  do {
    result = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    const int error = errno;
    ::close(fd);
    return {SysStep::lock, error};
  }
  if (lock.fd_ >= 0) ::close(lock.fd_);
  lock.fd_ = fd;
  return {};
}

}  // namespace kestrelis
