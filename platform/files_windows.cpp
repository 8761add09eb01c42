// winsock2.h (the socket error codes) before windows.h.
#include <winsock2.h>
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "platform/files.hpp"
#include "platform/utf8_windows.hpp"

namespace kestrelis {

// Paths are UTF-8 in the rest of the program and wide strings for the
// system: every file call goes through the wide (W) API, so that a profile
// folder with any characters works whatever the code page. Files are opened
// with every share mode, so that the forwarder reads the packet log while
// the TNC appends to it and a replacement can be renamed over an open file.

namespace {

// The errno value the callers decide on for a system error code.
int errno_of(DWORD error) {
  switch (error) {
    case ERROR_SUCCESS:
      return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return ENOENT;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EWOULDBLOCK;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_PARAMETER:
      return EINVAL;
    default:
      return EIO;
  }
}

int last_errno() { return errno_of(::GetLastError()); }

// An owned file handle.
class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (valid()) ::CloseHandle(h_);
  }
  [[nodiscard]] bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  [[nodiscard]] HANDLE get() const { return h_; }
  HANDLE release() {
    HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    return h;
  }
  // Closes now; true when the close succeeded.
  bool close() {
    const bool ok = ::CloseHandle(h_) != 0;
    h_ = INVALID_HANDLE_VALUE;
    return ok;
  }

 private:
  HANDLE h_;
};

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE open_file(const std::string& path, DWORD access, DWORD disposition) {
  return ::CreateFileW(wide(path).c_str(), access, share_all, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool attributes(const std::string& path, WIN32_FILE_ATTRIBUTE_DATA& data) {
  return ::GetFileAttributesExW(wide(path).c_str(), GetFileExInfoStandard, &data) != 0;
}

uint64_t size_of(const WIN32_FILE_ATTRIBUTE_DATA& data) {
  return (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

// A regular file on a disk: not a folder, a pipe, a console or a device.
bool is_regular(HANDLE h) {
  if (::GetFileType(h) != FILE_TYPE_DISK) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  return ::GetFileInformationByHandle(h, &info) != 0 &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Writes all of `bytes` to `h` at its position (or at its end when
// `at_end`). Returns 0 or the errno value of the failure; `written` counts
// what went out.
int write_handle(HANDLE h, std::string_view bytes, bool at_end, size_t& written) {
  written = 0;
  while (written < bytes.size()) {
    const auto chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - written, 1u << 30));
    DWORD n = 0;
    OVERLAPPED end{};
    // Offset all ones: the write goes to the current end of the file, in one
    // step with finding it, as O_APPEND does.
    end.Offset = 0xFFFFFFFF;
    end.OffsetHigh = 0xFFFFFFFF;
    if (!::WriteFile(h, bytes.data() + written, chunk, &n, at_end ? &end : nullptr)) {
      return last_errno();
    }
    if (n == 0) return ENOSPC;
    written += n;
  }
  return 0;
}

SysResult write_new(const std::string& path, std::string_view text, DWORD disposition,
                    bool flush) {
  Handle file(open_file(path, GENERIC_WRITE, disposition));
  if (!file.valid()) return {SysStep::open, last_errno()};
  size_t written = 0;
  SysResult result = sys_result(SysStep::write, write_handle(file.get(), text, false, written));
  if (result.ok() && flush && !::FlushFileBuffers(file.get())) {
    result = {SysStep::sync, last_errno()};
  }
  if (!file.close() && result.ok()) result = {SysStep::close, last_errno()};
  if (!result.ok()) ::DeleteFileW(wide(path).c_str());
  return result;
}

// Reads `h` from `offset` into `out` until its end or `limit` bytes. Returns 0
// or the errno value.
int read_handle(HANDLE h, uint64_t offset, size_t limit, std::string& out) {
  std::array<char, 65536> chunk{};
  for (;;) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    const auto want = static_cast<DWORD>(std::min<size_t>(chunk.size(), limit - out.size()));
    if (want == 0) return 0;
    DWORD n = 0;
    if (!::ReadFile(h, chunk.data(), want, &n, &at)) {
      const DWORD error = ::GetLastError();
      return error == ERROR_HANDLE_EOF ? 0 : errno_of(error);
    }
    if (n == 0) return 0;
    out.append(chunk.data(), n);
    offset += n;
  }
}

bool is_separator(char c) { return c == '/' || c == '\\'; }

}  // namespace

std::optional<std::string> env_var(const char* name) {
  const std::wstring wide_name = wide(name);
  const DWORD length = ::GetEnvironmentVariableW(wide_name.c_str(), nullptr, 0);
  if (length == 0) {
    // An empty variable is set, unlike a missing one.
    if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
    return std::string();
  }
  std::wstring value(length, L'\0');
  const DWORD got = ::GetEnvironmentVariableW(wide_name.c_str(), value.data(), length);
  value.resize(got);
  return narrow(value);
}

std::string path_join(std::string_view folder, std::string_view name) {
  std::string path(folder);
  path += '\\';
  path += name;
  return path;
}

bool path_exists(const std::string& path) {
  return ::GetFileAttributesW(wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

SysResult make_directory(const std::string& path) {
  // The folder inherits the permissions of the profile it is in, which only
  // its owner (and administrators) may read.
  return sys_result(SysStep::make_folder,
                    ::CreateDirectoryW(wide(path).c_str(), nullptr) ? 0 : last_errno());
}

SysResult write_all(int fd, std::string_view text) {
  // Binary mode: the bytes go out as they are, "\n" not made "\r\n".
  ::_setmode(fd, _O_BINARY);
  while (!text.empty()) {
    const auto chunk = static_cast<unsigned>(std::min<size_t>(text.size(), 1u << 30));
    const int n = ::_write(fd, text.data(), chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return {SysStep::write, errno};
    }
    text.remove_prefix(static_cast<size_t>(n));
  }
  return {};
}

SysResult write_text_file(const std::string& path, std::string_view text) {
  // A text file of the platform: every line ends with "\r\n".
  std::string crlf;
  crlf.reserve(text.size() + text.size() / 16);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) crlf.push_back('\r');
    crlf.push_back(text[i]);
  }
  return write_new(path, crlf, CREATE_ALWAYS, false);
}

std::string error_text(int error_number) {
  // Socket errors keep their Windows Sockets codes (10000 on), and the errno
  // values the socket layer stands for them by have no text in the C
  // runtime: both are described by the system.
  DWORD code = 0;
  if (error_number >= 10000) {
    code = static_cast<DWORD>(error_number);
  } else {
    switch (error_number) {
      case ETIMEDOUT:
        code = WSAETIMEDOUT;
        break;
      case ECONNREFUSED:
        code = WSAECONNREFUSED;
        break;
      case ECONNRESET:
        code = WSAECONNRESET;
        break;
      case EWOULDBLOCK:
        code = WSAEWOULDBLOCK;
        break;
      case EINPROGRESS:
        code = WSAEINPROGRESS;
        break;
      case ENOTSOCK:
        code = WSAENOTSOCK;
        break;
      case ENOTCONN:
        code = WSAENOTCONN;
        break;
      case EADDRINUSE:
        code = WSAEADDRINUSE;
        break;
      case EHOSTUNREACH:
        code = WSAEHOSTUNREACH;
        break;
      case ENETUNREACH:
        code = WSAENETUNREACH;
        break;
      case EMSGSIZE:
        code = WSAEMSGSIZE;
        break;
      default:
        break;
    }
  }
  if (code != 0) {
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring_view view(text, length);
    while (!view.empty() && (view.back() == L'\n' || view.back() == L'\r' || view.back() == L'.' ||
                             view.back() == L' ')) {
      view.remove_suffix(1);
    }
    std::string described = view.empty() ? "error " + std::to_string(code) : narrow(view);
    ::LocalFree(text);
    return described;
  }
  char buffer[256] = {};
  ::strerror_s(buffer, sizeof buffer, error_number);
  return buffer;
}

SysResult append_to_file(const std::string& path, std::string_view text) {
  Handle file(open_file(path, FILE_APPEND_DATA, OPEN_ALWAYS));
  if (!file.valid()) return {SysStep::open, last_errno()};
  size_t written = 0;
  SysResult result = sys_result(SysStep::write, write_handle(file.get(), text, true, written));
  if (!file.close() && result.ok()) result = {SysStep::close, last_errno()};
  return result;
}

std::FILE* open_regular_file(const std::string& path) {
  Handle file(open_file(path, GENERIC_READ, OPEN_EXISTING));
  if (!file.valid() || !is_regular(file.get())) return nullptr;
  // Text mode: a line read ends in "\n" whichever line ends the file has.
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file.get()), _O_RDONLY | _O_TEXT);
  if (fd < 0) return nullptr;
  file.release();
  std::FILE* stream = ::_fdopen(fd, "r");
  if (stream == nullptr) ::_close(fd);
  return stream;
}

std::optional<std::string> read_whole_file(const std::string& path) {
  Handle file(open_file(path, GENERIC_READ, OPEN_EXISTING));
  if (!file.valid() || !is_regular(file.get())) return std::nullopt;
  std::string text;
  if (read_handle(file.get(), 0, std::string::npos, text) != 0) return std::nullopt;
  return text;
}

bool is_directory(const std::string& path) {
  const DWORD a = ::GetFileAttributesW(wide(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool file_has_content(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  return attributes(path, data) && size_of(data) > 0;
}

SysResult make_directories(const std::string& path) {
  for (size_t at = path.find_first_of("/\\", 1);; at = path.find_first_of("/\\", at + 1)) {
    const std::string folder = path.substr(0, at);
    // A drive ("C:") or the separators of a network path are no folder to make.
    const bool root = folder.empty() || folder.back() == ':' || is_separator(folder.back());
    if (!root && !::CreateDirectoryW(wide(folder).c_str(), nullptr)) {
      const DWORD error = ::GetLastError();
      if (error != ERROR_ALREADY_EXISTS && !is_directory(folder)) {
        return {SysStep::make_folder, errno_of(error)};
      }
    }
    if (at == std::string::npos) break;
  }
  return sys_result(SysStep::make_folder, is_directory(path) ? 0 : ENOTDIR);
}

SysResult append_whole(const std::string& path, std::string_view bytes, AppendKind kind) {
  const bool line = kind == AppendKind::log_line;
  const DWORD a = ::GetFileAttributesW(wide(path).c_str());
  if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return {SysStep::open, EISDIR};
  }
  Handle file(open_file(path, GENERIC_READ | GENERIC_WRITE, line ? OPEN_ALWAYS : OPEN_EXISTING));
  if (!file.valid()) return {SysStep::open, last_errno()};
  if (!is_regular(file.get())) return {SysStep::open, EINVAL};
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size)) return {SysStep::open, last_errno()};
  const int64_t size_before = size.QuadPart;
  std::string joined;
  if (line && size_before > 0) {
    std::string last;
    if (read_handle(file.get(), static_cast<uint64_t>(size_before - 1), 1, last) == 0 &&
        last.size() == 1 && last[0] != '\n') {
      joined.assign(bytes.size() + 1, '\n');
      std::copy(bytes.begin(), bytes.end(), joined.begin() + 1);
      bytes = joined;
    }
  }
  size_t written = 0;
  SysResult result = sys_result(SysStep::write, write_handle(file.get(), bytes, true, written));
  if (!result.ok() && written > 0) {
    // A short write is cut back so that no half line stays. Should that fail
    // too, the next append starts on a new line and the half line stays one
    // malformed line.
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = size_before;
    ::SetFileInformationByHandle(file.get(), FileEndOfFileInfo, &end, sizeof end);
  }
  if (!file.close() && result.ok()) result = {SysStep::close, last_errno()};
  return result;
}

std::string append_error_text(int error_number) {
  return error_number == EINVAL ? "not a regular file" : error_text(error_number);
}

SysResult remove_file(const std::string& path) {
  return sys_result(SysStep::remove, ::DeleteFileW(wide(path).c_str()) ? 0 : last_errno());
}

SysResult create_new_file(const std::string& path, std::string_view bytes) {
  return write_new(path, bytes, CREATE_NEW, false);
}

std::optional<DiskSpace> disk_space(const std::string& path) {
  ULARGE_INTEGER free_to_caller{};
  ULARGE_INTEGER total{};
  if (!::GetDiskFreeSpaceExW(wide(path).c_str(), &free_to_caller, &total, nullptr)) {
    return std::nullopt;
  }
  return DiskSpace{.free_bytes = free_to_caller.QuadPart, .total_bytes = total.QuadPart};
}

std::optional<uint64_t> file_size(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!attributes(path, data)) return std::nullopt;
  return size_of(data);
}

FilePart read_file_part(const std::string& path, uint64_t offset, size_t limit) {
  FilePart part;
  Handle file(open_file(path, GENERIC_READ, OPEN_EXISTING));
  if (!file.valid()) {
    part.error = last_errno();
    return part;
  }
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file.get(), &size)) {
    part.error = last_errno();
    return part;
  }
  part.size = static_cast<uint64_t>(size.QuadPart);
  if (part.size > offset) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(part.size - offset, limit));
    part.error = read_handle(file.get(), offset, want, part.bytes);
  }
  if (part.error != 0) part.bytes.clear();
  return part;
}

SysResult replace_file(const std::string& path, std::string_view text) {
  // The new text reaches the disk before the rename, and the rename is
  // written through before the return: after a power cut the file holds the
  // old text or the new.
  const std::string temporary = path + ".new";
  if (const SysResult written = write_new(temporary, text, CREATE_ALWAYS, true); !written.ok()) {
    return written;
  }
  if (!::MoveFileExW(wide(temporary).c_str(), wide(path).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const int error = last_errno();
    ::DeleteFileW(wide(temporary).c_str());
    return {SysStep::rename, error};
  }
  return {};
}

std::vector<std::string> regular_file_names(const std::string& path) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW entry{};
  const HANDLE search = ::FindFirstFileW(wide(path + "\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if ((entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0) {
      names.push_back(narrow(entry.cFileName));
    }
  } while (::FindNextFileW(search, &entry));
  ::FindClose(search);
  return names;
}

FileLock::~FileLock() {
  if (fd_ >= 0) ::_close(fd_);
}

SysResult lock_file(const std::string& path, FileLock& lock) {
  Handle file(open_file(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS));
  if (!file.valid()) return {SysStep::open, last_errno()};
  OVERLAPPED whole{};
  // The whole file and beyond; the system releases it when the handle
  // closes, the process's end included.
  if (!::LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                    MAXDWORD, &whole)) {
    const DWORD error = ::GetLastError();
    return {SysStep::lock, error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING
                               ? EWOULDBLOCK
                               : errno_of(error)};
  }
  // Kept as a C runtime descriptor, which the lock's owner closes.
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(file.get()), _O_RDWR);
  if (fd < 0) return {SysStep::lock, EMFILE};
  file.release();
  if (lock.fd_ >= 0) ::_close(lock.fd_);
  lock.fd_ = fd;
  return {};
}

}  // namespace kestrelis
