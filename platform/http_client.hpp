#pragma once
// An HTTP(S) client sized to one task: POST a urlencoded form and learn the
// status of the answer, bounded in time and in the size read. The only file
// of the product that uses libcurl; HTTPS checks certificates as the system
// does by default.

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrelis {

struct HttpLimits {
  int connect_timeout_ms = 10'000;  // for the connection (TCP and TLS set-up)
  int total_timeout_ms = 30'000;    // for the whole exchange, connection included
  size_t body_limit = 64 * 1024;    // bytes of the answer's body kept; reading stops beyond
};

// Why a POST had no answer.
enum class HttpFailure {
  none,     // an answer came: see `status`; a 2xx status counts even when the
            // connection was lost before the end of its body
  connect,  // the host was not found or the connection was refused or failed
  timeout,  // the connection or the whole exchange took longer than its limit
  other,    // anything else: a bad URL, a TLS failure, a broken answer
};

struct HttpAnswer {
  HttpFailure failure = HttpFailure::none;
  long status = 0;          // the HTTP status when failure is none
  std::string body;         // at most HttpLimits::body_limit bytes of the body
  bool body_cut = false;    // the body was longer than the limit
  std::string location;     // a 3xx answer's Location, made absolute; "" when none
  std::string retry_after;  // the Retry-After header's value as sent; "" when none
  std::string error;        // the HTTP library's description of the failure
};

// POSTs `form` (already urlencoded) to `url` (http:// or https:// only) as
// application/x-www-form-urlencoded. Follows no redirect (a 3xx is the
// answer, with its `location`) and raises no signal; safe to call from any
// thread. Prints nothing.
[[nodiscard]] HttpAnswer http_post_form(const std::string& url, std::string_view form,
                                        const HttpLimits& limits);

}  // namespace kestrelis
