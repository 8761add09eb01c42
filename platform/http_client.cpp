#include "platform/http_client.hpp"

#include <curl/curl.h>

#include <memory>
#include <mutex>
#include <string_view>

namespace kestrelis {

namespace {

struct EasyCleanup {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};

struct ListCleanup {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

struct BodySink {
  std::string* body = nullptr;
  size_t limit = 0;
  bool cut = false;
};

// Keeps the body up to the limit; returning less than it was given makes
// libcurl stop reading, so a huge or endless answer costs no more than that.
size_t keep_body(char* data, size_t size, size_t count, void* user) {
  auto& sink = *static_cast<BodySink*>(user);
  const size_t bytes = size * count;
  if (sink.body->size() + bytes > sink.limit) {
    sink.body->append(data, sink.limit - sink.body->size());
    sink.cut = true;
    return 0;
  }
  sink.body->append(data, bytes);
  return bytes;
}

HttpFailure failure_of(CURLcode code) {
  switch (code) {
    case CURLE_OK:
      return HttpFailure::none;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
      return HttpFailure::connect;
    case CURLE_OPERATION_TIMEDOUT:
      return HttpFailure::timeout;
    default:
      return HttpFailure::other;
  }
}

// Keeps the value of a Retry-After header (blanks and the line end removed).
size_t keep_retry_after(char* data, size_t size, size_t count, void* user) {
  const size_t bytes = size * count;
  constexpr std::string_view name = "retry-after:";
  std::string_view line(data, bytes);
  if (line.size() < name.size()) return bytes;
  for (size_t i = 0; i < name.size(); ++i) {
    const char c =
        line[i] >= 'A' && line[i] <= 'Z' ? static_cast<char>(line[i] - 'A' + 'a') : line[i];
    if (c != name[i]) return bytes;
  }
  line.remove_prefix(name.size());
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' ')) {
    line.remove_suffix(1);
  }
  static_cast<std::string*>(user)->assign(line);
  return bytes;
}

}  // namespace

HttpAnswer http_post_form(const std::string& url, std::string_view form, const HttpLimits& limits) {
  static std::once_flag global_init;
  std::call_once(global_init, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

  HttpAnswer answer;
  std::unique_ptr<CURL, EasyCleanup> curl(curl_easy_init());
  if (!curl) {
    answer.failure = HttpFailure::other;
    answer.error = "libcurl could not start a transfer";
    return answer;
  }
  // An empty Expect header keeps libcurl from waiting for "100 Continue"
  // before the body, which a small server may never send.
  std::unique_ptr<curl_slist, ListCleanup> headers(curl_slist_append(nullptr, "Expect:"));
  BodySink sink{&answer.body, limits.body_limit};
  char error_text[CURL_ERROR_SIZE] = {};
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_POST, 1L);
  curl_easy_setopt(c, CURLOPT_POSTFIELDS, form.data());
  curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(form.size()));
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connect_timeout_ms));
  curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.total_timeout_ms));
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, keep_body);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, keep_retry_after);
  curl_easy_setopt(c, CURLOPT_HEADERDATA, &answer.retry_after);
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error_text);
  curl_easy_setopt(c, CURLOPT_USERAGENT, "kestrelis-forward/" KESTRELIS_VERSION);

  const CURLcode code = curl_easy_perform(c);
  answer.body_cut = sink.cut;
  long status = 0;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  // A body cut at the limit still carries the status the server gave. So does
  // one the connection lost after a success status: the server has taken the
  // post, and posting it again would hand it over twice.
  const bool taken = status >= 200 && status < 300;
  if (code == CURLE_OK || (code == CURLE_WRITE_ERROR && sink.cut) || taken) {
    answer.status = status;
    // libcurl makes the Location of a redirect it does not follow absolute.
    char* location = nullptr;
    if (status >= 300 && status < 400 &&
        curl_easy_getinfo(c, CURLINFO_REDIRECT_URL, &location) == CURLE_OK && location) {
      answer.location = location;
    }
    return answer;
  }
  answer.failure = failure_of(code);
  answer.error = error_text[0] != '\0' ? error_text : curl_easy_strerror(code);
  return answer;
}

}  // namespace kestrelis
