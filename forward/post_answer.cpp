#include "forward/post_answer.hpp"

#include <algorithm>
#include <charconv>

namespace kestrelis {

namespace {

PostAction action_of(const HttpAnswer& answer) {
  if (answer.failure != HttpFailure::none) return PostAction::retry;
  const long s = answer.status;
  if (s >= 200 && s < 300) return PostAction::delivered;
  // A redirect or a missing, forbidden or wrong endpoint is refused for
  // every packet alike: setting the whole backlog aside would be worse.
  if ((s >= 300 && s < 400) || s == 401 || s == 403 || s == 404 || s == 405) {
    return PostAction::stop;
  }
  if (s == 408 || s == 429) return PostAction::retry;
  if (s >= 400 && s < 500) return PostAction::set_aside;
  return PostAction::retry;
}

// The length of the UTF-8 sequence at the start of `text`; 0 when it is none.
size_t utf8_length(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  const size_t length = lead < 0x80                   ? 1
                        : lead >= 0xC2 && lead < 0xE0 ? 2
                        : lead >= 0xE0 && lead < 0xF0 ? 3
                        : lead >= 0xF0 && lead < 0xF5 ? 4
                                                      : 0;
  if (length == 0 || length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return 0;
  }
  return length;
}

void append_json_string(std::string& out, std::string_view text) {
  constexpr char hex[] = "0123456789abcdef";
  out += '"';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      out += "\\u00";
      out += hex[byte >> 4];
      out += hex[byte & 0xF];
    } else {
      out += c;
    }
  }
  out += '"';
}

}  // namespace

PostDecision post_decision(const PostState& state, const HttpAnswer& answer,
                           const RetryPolicy& policy, int64_t now_ms) {
  PostDecision decision;
  decision.action = action_of(answer);
  if (decision.action != PostAction::retry) return decision;  // the next packet starts afresh
  PostState& next = decision.state;
  next = state;
  if (next.failures == 0) next.failing_since_ms = now_ms;
  ++next.failures;
  const int backoff = state.next_wait_ms > 0 ? state.next_wait_ms : policy.first_ms;
  next.next_wait_ms = static_cast<int>(
      std::min<int64_t>(int64_t{backoff} * 2, std::max(policy.max_ms, policy.first_ms)));
  int64_t wait = backoff;
  if (const std::optional<int> asked = retry_after_ms(answer.retry_after)) wait = *asked;
  if (policy.give_up_ms) {
    const int64_t left = next.failing_since_ms + *policy.give_up_ms - now_ms;
    if (left <= 0 && next.failures > 1) {  // the first failure is always tried again
      decision.action = PostAction::give_up;
      return decision;
    }
    wait = std::clamp<int64_t>(left, 0, wait);
  }
  decision.wait_ms = static_cast<int>(wait);
  return decision;
}

std::optional<int> retry_after_ms(std::string_view value) {
  int64_t seconds = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
  if (value.empty() || error == std::errc::invalid_argument || end != value.data() + value.size() ||
      seconds < 0) {
    return std::nullopt;
  }
  if (error == std::errc::result_out_of_range || seconds > retry_after_limit_ms / 1000) {
    return retry_after_limit_ms;
  }
  return static_cast<int>(seconds * 1000);
}

std::string answer_reason(std::string_view body) {
  body = body.substr(0, body.find_first_of("\r\n"));
  while (!body.empty() && (body.front() == ' ' || body.front() == '\t')) body.remove_prefix(1);
  std::string reason;
  for (size_t characters = 0; !body.empty() && characters < reason_limit; ++characters) {
    const size_t length = utf8_length(body);
    const auto byte = static_cast<unsigned char>(body[0]);
    if (length == 0 || byte < 0x20 || byte == 0x7F) {
      reason += '?';
      body.remove_prefix(1);
    } else {
      reason += body.substr(0, length);
      body.remove_prefix(length);
    }
  }
  while (!reason.empty() && reason.back() == ' ') reason.pop_back();
  return reason;
}

std::string redirect_target(std::string_view location, std::string_view query) {
  const size_t mark = location.find('?');
  if (!query.empty() && mark != std::string_view::npos && location.substr(mark + 1) == query) {
    location = location.substr(0, mark);
  }
  return std::string(location);
}

std::string rejected_line(std::string_view line, long status, std::string_view reason) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) {
    line.remove_suffix(1);
  }
  if (!line.empty() && line.back() == '}') line.remove_suffix(1);
  std::string out(line);
  out += ",\"http_status\":" + std::to_string(status) + ",\"reason\":";
  append_json_string(out, reason);
  out += "}\n";
  return out;
}

}  // namespace kestrelis
