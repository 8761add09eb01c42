#include "system/http_stand_in.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <span>

namespace kestrelis {

namespace {

constexpr size_t head_limit = 16 * 1024;
constexpr size_t body_limit = 64 * 1024;
constexpr int poll_ms = 50;
constexpr int read_timeout_ms = 2000;
constexpr size_t oversized_body = 1 << 20;

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> decode_part(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] != '%') {
      out += text[i];
    } else if (i + 2 < text.size() && hex_digit(text[i + 1]) >= 0 && hex_digit(text[i + 2]) >= 0) {
      out += static_cast<char>(hex_digit(text[i + 1]) << 4 | hex_digit(text[i + 2]));
      i += 2;
    } else {
      return std::nullopt;
    }
  }
  return out;
}

bool same_text_any_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

struct RequestHead {
  std::string method;
  std::string target;
  size_t content_length = 0;
};

// The request line and the Content-Length header of `head` (up to the blank line).
std::optional<RequestHead> parse_head(std::string_view head) {
  const size_t line_end = head.find("\r\n");
  const std::string_view request_line = head.substr(0, line_end);
  const size_t first = request_line.find(' ');
  const size_t second = request_line.find(' ', first + 1);
  if (first == std::string_view::npos || second == std::string_view::npos) return std::nullopt;
  RequestHead result{std::string(request_line.substr(0, first)),
                     std::string(request_line.substr(first + 1, second - first - 1))};
  for (size_t start = line_end + 2; start < head.size();) {
    size_t end = head.find("\r\n", start);
    if (end == std::string_view::npos) end = head.size();
    const std::string_view line = head.substr(start, end - start);
    const size_t colon = line.find(':');
    if (colon != std::string_view::npos &&
        same_text_any_case(line.substr(0, colon), "Content-Length")) {
      std::string_view value = line.substr(colon + 1);
      while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
      const auto [ptr, error] =
          std::from_chars(value.data(), value.data() + value.size(), result.content_length);
      if (error != std::errc()) return std::nullopt;
    }
    start = end + 2;
  }
  return result;
}

std::span<const uint8_t> bytes_of(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

std::string answer_text(int status, const char* reason, std::string_view body) {
  return "HTTP/1.1 " + std::to_string(status) + " " + reason +
         "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + std::string(body);
}

}  // namespace

std::optional<StandInForm> decode_form(std::string_view text) {
  StandInForm form;
  while (!text.empty()) {
    const size_t amp = text.find('&');
    const std::string_view pair = text.substr(0, amp);
    text = amp == std::string_view::npos ? std::string_view() : text.substr(amp + 1);
    if (pair.empty()) continue;
    const size_t equals = pair.find('=');
    auto name = decode_part(pair.substr(0, equals));
    auto value = decode_part(equals == std::string_view::npos ? "" : pair.substr(equals + 1));
    if (!name || !value) return std::nullopt;
    form.emplace_back(std::move(*name), std::move(*value));
  }
  return form;
}

std::string form_value(const StandInForm& form, std::string_view name) {
  for (const auto& [key, value] : form) {
    if (key == name) return value;
  }
  return {};
}

HttpStandIn::HttpStandIn(uint16_t port, StandInMode mode,
                         std::function<void(const StandInPost&)> on_post)
    : on_post_(std::move(on_post)), mode_(mode) {
  NetResult listened = tcp_listen("127.0.0.1", port);
  if (listened.failed_at != NetStep::none) return;
  listener_ = std::move(listened.socket);
  port_ = local_port(listener_.fd());
  thread_ = std::thread([this] { serve(); });
}

HttpStandIn::~HttpStandIn() { stop(); }

void HttpStandIn::set_mode(StandInMode mode) {
  const std::lock_guard lock(mutex_);
  mode_ = mode;
}

std::vector<StandInPost> HttpStandIn::posts() const {
  const std::lock_guard lock(mutex_);
  return posts_;
}

void HttpStandIn::stop() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  listener_.close();
}

void HttpStandIn::serve() {
  while (!stopping_) {
    if (!wait_readable(listener_.fd(), poll_ms)) continue;
    Socket connection = tcp_accept(listener_.fd());
    if (connection.valid()) serve_connection(connection.fd());
  }
}

void HttpStandIn::serve_connection(int fd) {
  (void)set_receive_timeout(fd, read_timeout_ms);
  (void)set_send_timeout(fd, read_timeout_ms);
  std::string received;
  size_t head_end = std::string::npos;
  uint8_t buffer[4096];
  while ((head_end = received.find("\r\n\r\n")) == std::string::npos) {
    if (received.size() > head_limit) return;
    const long n = stream_receive(fd, buffer);
    if (n <= 0) return;
    received.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
  }
  const std::optional<RequestHead> head =
      parse_head(std::string_view(received).substr(0, head_end));
  if (!head || head->method != "POST") {
    (void)send_all(fd, bytes_of(answer_text(405, "Method Not Allowed", "")));
    return;
  }
  if (head->content_length > body_limit) {
    (void)send_all(fd, bytes_of(answer_text(413, "Content Too Large", "")));
    return;
  }
  const size_t body_start = head_end + 4;
  while (received.size() - body_start < head->content_length) {
    const long n = stream_receive(fd, buffer);
    if (n <= 0) return;
    received.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
  }
  StandInPost post{head->target,
                   decode_form(std::string_view(received).substr(body_start, head->content_length))
                       .value_or(StandInForm{})};
  StandInMode mode;
  {
    const std::lock_guard lock(mutex_);
    mode = mode_;
  }
  switch (mode) {
    case StandInMode::healthy:
      post.answered = 200;
      (void)send_all(fd, bytes_of(answer_text(200, "OK", "OK\n")));
      break;
    case StandInMode::server_error:
      post.answered = 500;
      (void)send_all(fd, bytes_of(answer_text(500, "Internal Server Error", "try later\n")));
      break;
    case StandInMode::oversized:
      post.answered = 200;
      (void)send_all(fd, bytes_of(answer_text(200, "OK", std::string(oversized_body, 'x'))));
      break;
    case StandInMode::cut_short: {
      post.answered = 200;
      const std::string whole = answer_text(200, "OK", "accepted, and more to say\n");
      (void)send_all(fd, bytes_of(std::string_view(whole).substr(0, whole.size() - 10)));
      break;
    }
    case StandInMode::silent:
      // Holds the connection, answering nothing, until the client closes it.
      while (!stopping_) {
        if (wait_readable(fd, poll_ms) && stream_receive(fd, buffer) <= 0) break;
      }
      break;
  }
  {
    const std::lock_guard lock(mutex_);
    posts_.push_back(post);
  }
  if (on_post_) on_post_(post);
}

}  // namespace kestrelis
