#include <windows.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "system/child_process.hpp"
#include "platform/utf8_windows.hpp"

namespace kestrelis {

// Of the child-process calls, Windows builds only what the operator's tools
// use: running a program (gnuplot for the KISS client's plots), temporary
// folders and removing a tree. Starting,
// signalling and watching the TNC are the tests' and the load tool's, which
// run on Linux.

namespace {

// One argument quoted as the C runtime's parser reads it back: backslashes
// are literal except before a double quote, where they are doubled.
std::wstring quoted(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, L'\\');
  out.push_back(L'"');
  return out;
}

}  // namespace

std::optional<std::string> make_temp_directory(std::string_view prefix) {
  std::error_code error;
  const std::filesystem::path base = std::filesystem::temp_directory_path(error);
  if (error) return std::nullopt;
  const std::wstring stem = wide(prefix) + std::to_wstring(::GetCurrentProcessId()) + L"-";
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path folder =
        base / (stem + std::to_wstring(::GetTickCount64() + attempt));
    if (::CreateDirectoryW(folder.c_str(), nullptr)) {
      const std::u8string name = folder.u8string();
      return std::string(name.begin(), name.end());
    }
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return std::nullopt;
  }
  return std::nullopt;
}

void remove_tree(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove_all(std::filesystem::path(wide(path)), ignored);
}

ProgramRun run_program(const std::vector<std::string>& argv, std::string_view input) {
  ProgramRun run;
  std::wstring command;
  for (const std::string& argument : argv) {
    if (!command.empty()) command.push_back(L' ');
    command += quoted(wide(argument));
  }
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!::CreatePipe(&read_end, &write_end, &inherit, 0)) {
    run.error = EMFILE;
    return run;
  }
  ::SetHandleInformation(write_end, HANDLE_FLAG_INHERIT, 0);
  const HANDLE null = ::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    &inherit, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = read_end;
  startup.hStdOutput = null;
  startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  const BOOL started = ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE,
                                        CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
  ::CloseHandle(read_end);
  if (null != INVALID_HANDLE_VALUE) ::CloseHandle(null);
  if (!started) {
    const DWORD error = ::GetLastError();
    run.error = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENOENT : EIO;
    ::CloseHandle(write_end);
    return run;
  }
  run.started = true;
  while (!input.empty()) {
    DWORD written = 0;
    // A child that stopped reading is reported by its exit status.
    if (!::WriteFile(write_end, input.data(), static_cast<DWORD>(input.size()), &written,
                     nullptr)) {
      break;
    }
    input.remove_prefix(written);
  }
  ::CloseHandle(write_end);
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 0;
  if (::GetExitCodeProcess(process.hProcess, &status)) run.exit_status = static_cast<int>(status);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return run;
}

}  // namespace kestrelis
