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

std::string answer_text(int status, const char* reason, std::string_view body,
                        std::string_view headers = {}) {
  return "HTTP/1.1 " + std::to_string(status) + " " + reason +
         "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
         std::string(headers) + "Connection: close\r\n\r\n" + std::string(body);
}

bool all_of_class(std::string_view text, bool (*in_class)(char)) {
  return std::all_of(text.begin(), text.end(), in_class);
}

bool digit(char c) { return c >= '0' && c <= '9'; }
bool hex(char c) { return hex_digit(c) >= 0; }

// A decimal number with a point, optionally signed, or its absolute value
// followed by `positive` or `negative`; within `limit`.
bool coordinate(std::string_view text, double limit, char positive, char negative) {
  if (!text.empty() && (text.back() == positive || text.back() == negative)) {
    text.remove_suffix(1);
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) return false;
  } else if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    text.remove_prefix(1);
  }
  const size_t point = text.find('.');
  if (point == std::string_view::npos || point == 0 || point + 1 == text.size() ||
      !all_of_class(text.substr(0, point), digit) || !all_of_class(text.substr(point + 1), digit)) {
    return false;
  }
  return std::stod(std::string(text)) <= limit;
}

// YYYY-MM-DDThh:mm:ss, an optional fraction, an optional Z or +hh:mm.
bool iso_time(std::string_view text) {
  constexpr std::string_view shape = "dddd-dd-ddTdd:dd:dd";
  if (text.size() < shape.size()) return false;
  for (size_t i = 0; i < shape.size(); ++i) {
    if (shape[i] == 'd' ? !digit(text[i]) : text[i] != shape[i]) return false;
  }
  text.remove_prefix(shape.size());
  if (!text.empty() && text.front() == '.') {
    text.remove_prefix(1);
    const size_t digits = text.find_first_not_of("0123456789");
    if (digits == 0) return false;
    text.remove_prefix(digits == std::string_view::npos ? text.size() : digits);
  }
  if (text == "Z" || text.empty()) return true;
  return text.size() == 6 && (text[0] == '+' || text[0] == '-') && digit(text[1]) &&
         digit(text[2]) && text[3] == ':' && digit(text[4]) && digit(text[5]);
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

std::string share_form_problem(const StandInForm& form, const StandInForm& query) {
  const auto has = [&form](std::string_view name) {
    return std::any_of(form.begin(), form.end(), [name](const auto& f) { return f.first == name; });
  };
  for (const char* name :
       {"noradID", "source", "timestamp", "frame", "locator", "longitude", "latitude"}) {
    if (!has(name)) return std::string(name) + ": this field is required.";
  }
  const std::string norad = form_value(form, "noradID");
  const std::string source = form_value(form, "source");
  const std::string frame = form_value(form, "frame");
  const std::string version = form_value(form, "version");
  if (norad.empty() || !all_of_class(norad, digit)) return "noradID: a whole number is required.";
  if (source.empty() || source.size() > 45) return "source: 1 to 45 characters are required.";
  if (!iso_time(form_value(form, "timestamp"))) return "timestamp: not an ISO 8601 time.";
  if (frame.empty() || frame.size() % 2 != 0 || !all_of_class(frame, hex)) {
    return "frame: not hexadecimal bytes.";
  }
  if (form_value(form, "locator") != "longLat") return "locator: must be longLat.";
  if (!coordinate(form_value(form, "longitude"), 180, 'E', 'W')) {
    return "longitude: not a longitude.";
  }
  if (!coordinate(form_value(form, "latitude"), 90, 'N', 'S')) return "latitude: not a latitude.";
  if (version.size() > 45) return "version: at most 45 characters.";
  if (!query.empty() && query != form) return "query string: not the fields of the body.";
  return {};
}

HttpStandIn::HttpStandIn(uint16_t port, StandInMode mode,
                         std::function<void(const StandInPost&)> on_post)
    : on_post_(std::move(on_post)), mode_(mode) {
  NetResult listened = tcp_listen("127.0.0.1", port);
  if (!listened.status.ok()) return;
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
  const size_t mark = head->target.find('?');
  StandInPost post{
      head->target, head->target.substr(0, mark),
      mark == std::string::npos
          ? StandInForm{}
          : decode_form(std::string_view(head->target).substr(mark + 1)).value_or(StandInForm{}),
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
    case StandInMode::checking: {
      const std::string problem = share_form_problem(post.form, post.query);
      post.answered = problem.empty() ? 201 : 400;
      (void)send_all(fd,
                     bytes_of(problem.empty() ? answer_text(201, "Created", "")
                                              : answer_text(400, "Bad Request", problem + "\n")));
      break;
    }
    case StandInMode::bad_request:
      post.answered = 400;
      (void)send_all(fd, bytes_of(answer_text(400, "Bad Request",
                                              "frame: this frame was already received.\n")));
      break;
    case StandInMode::moved: {
      post.answered = 301;
      const std::string moved_to = post.path + "/" + head->target.substr(post.path.size());
      const std::string location =
          "Location: http://127.0.0.1:" + std::to_string(port_) + moved_to + "\r\n";
      (void)send_all(fd, bytes_of(answer_text(301, "Moved Permanently", "", location)));
      break;
    }
    case StandInMode::busy:
      post.answered = 429;
      (void)send_all(
          fd, bytes_of(answer_text(429, "Too Many Requests", "slow down\n", "Retry-After: 1\r\n")));
      break;
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
