#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <array>
#include <string>
#include <string_view>

#include "platform/clock.hpp"
#include "platform/http_client.hpp"
#include "platform/utf8_windows.hpp"

namespace kestrelis {

// The same post as on Linux, made with WinHTTP: the limits become WinHTTP's
// time-outs, no redirect is followed, and certificates are checked against
// the system's store (WinHTTP refuses an untrusted, expired or misnamed one
// unless told otherwise, and it is not told).

namespace {

class InternetHandle {
 public:
  explicit InternetHandle(HINTERNET h) : h_(h) {}
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  ~InternetHandle() {
    if (h_ != nullptr) ::WinHttpCloseHandle(h_);
  }
  [[nodiscard]] HINTERNET get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  HINTERNET h_;
};

HttpFailure failure_of(DWORD error) {
  switch (error) {
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case ERROR_WINHTTP_CONNECTION_ERROR:
      return HttpFailure::connect;
    case ERROR_WINHTTP_TIMEOUT:
      return HttpFailure::timeout;
    default:
      return HttpFailure::other;
  }
}

// WinHTTP's description of its error `error`, with the code.
std::string describe(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      ::GetModuleHandleW(L"winhttp.dll"), error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string described;
  for (DWORD i = 0; i < length; ++i) {
    // The messages are ASCII; anything else is dropped rather than mangled.
    if (text[i] >= 0x20 && text[i] < 0x7F) described.push_back(static_cast<char>(text[i]));
  }
  ::LocalFree(text);
  while (!described.empty() && (described.back() == ' ' || described.back() == '.')) {
    described.pop_back();
  }
  return (described.empty() ? "WinHTTP error" : described) + " (" + std::to_string(error) + ")";
}

// The value of header `info` of the answer to `request`; "" when it has none.
std::string header_text(HINTERNET request, DWORD info) {
  DWORD size = 0;
  ::WinHttpQueryHeaders(request, info, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                        &size, WINHTTP_NO_HEADER_INDEX);
  if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return {};
  std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
  if (!::WinHttpQueryHeaders(request, info, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &size,
                             WINHTTP_NO_HEADER_INDEX)) {
    return {};
  }
  value.resize(size / sizeof(wchar_t));
  return narrow(value);
}

// `location` made absolute against `url` when it is a path on the same server,
// as libcurl does on Linux.
std::string absolute_location(const std::string& url, const std::string& location) {
  if (location.empty() || location.front() != '/' || location.rfind("//", 0) == 0) return location;
  const size_t scheme_end = url.find("://");
  if (scheme_end == std::string::npos) return location;
  const size_t path = url.find_first_of("/?#", scheme_end + 3);
  return url.substr(0, path) + location;
}

HttpAnswer failed(DWORD error) {
  HttpAnswer answer;
  answer.failure = failure_of(error);
  answer.error = describe(error);
  return answer;
}

}  // namespace

HttpAnswer http_post_form(const std::string& url, std::string_view form, const HttpLimits& limits) {
  const std::wstring wide_url = wide(url);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  parts.dwSchemeLength = static_cast<DWORD>(-1);
  if (!::WinHttpCrackUrl(wide_url.c_str(), static_cast<DWORD>(wide_url.size()), 0, &parts) ||
      (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)) {
    HttpAnswer answer;
    answer.failure = HttpFailure::other;
    answer.error = "not an http:// or https:// URL";
    return answer;
  }
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
  path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (path.empty()) path = L"/";

  const int64_t start_ms = monotonic_ms();
  InternetHandle session(::WinHttpOpen(L"kestrelis-forward/" KESTRELIS_VERSION,
                                       WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                       WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) return failed(::GetLastError());
  // Name resolution and connection within the connection limit; sending and
  // each wait for the answer within the whole exchange's limit (the time
  // already spent is checked while the body is read).
  ::WinHttpSetTimeouts(session.get(), limits.connect_timeout_ms, limits.connect_timeout_ms,
                       limits.total_timeout_ms, limits.total_timeout_ms);
  InternetHandle connection(::WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
  if (!connection) return failed(::GetLastError());
  const DWORD secure = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
  InternetHandle request(::WinHttpOpenRequest(connection.get(), L"POST", path.c_str(), nullptr,
                                              WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                              secure));
  if (!request) return failed(::GetLastError());
  DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
  ::WinHttpSetOption(request.get(), WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never);
  const wchar_t* headers = L"Content-Type: application/x-www-form-urlencoded\r\n";
  if (!::WinHttpSendRequest(request.get(), headers, static_cast<DWORD>(-1L),
                            const_cast<char*>(form.data()), static_cast<DWORD>(form.size()),
                            static_cast<DWORD>(form.size()), 0) ||
      !::WinHttpReceiveResponse(request.get(), nullptr)) {
    return failed(::GetLastError());
  }
  HttpAnswer answer;
  DWORD status = 0;
  DWORD status_size = sizeof status;
  if (!::WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &status_size,
                             WINHTTP_NO_HEADER_INDEX)) {
    return failed(::GetLastError());
  }
  answer.status = static_cast<long>(status);
  answer.retry_after = header_text(request.get(), WINHTTP_QUERY_RETRY_AFTER);
  if (status >= 300 && status < 400) {
    answer.location = absolute_location(url, header_text(request.get(), WINHTTP_QUERY_LOCATION));
  }
  // The body up to its limit. A body cut at the limit still carries the
  // status; so does one the connection lost after a success status: the
  // server has taken the post, and posting it again would hand it over twice.
  std::array<char, 16384> chunk{};
  for (;;) {
    if (monotonic_ms() - start_ms > limits.total_timeout_ms) {
      if (status >= 200 && status < 300) return answer;
      return failed(ERROR_WINHTTP_TIMEOUT);
    }
    DWORD got = 0;
    if (!::WinHttpReadData(request.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &got)) {
      const DWORD error = ::GetLastError();
      if (status >= 200 && status < 300) return answer;
      return failed(error);
    }
    if (got == 0) return answer;
    const size_t room = limits.body_limit - answer.body.size();
    answer.body.append(chunk.data(), std::min<size_t>(got, room));
    if (got > room) {
      answer.body_cut = true;
      return answer;
    }
  }
}

}  // namespace kestrelis
