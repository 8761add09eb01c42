#include "keying/rigctld.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "console/console_log.hpp"
#include "keying/keying_account.hpp"
#include "platform/clock.hpp"
#include "platform/net.hpp"

namespace kestrelis {

namespace {

using Kind = KeyingEventKind;

constexpr int connect_timeout_ms = 2000;
constexpr int64_t ns_per_ms = 1'000'000;
constexpr size_t answer_limit = 128;
constexpr std::string_view answer_tag = "RPRT ";

// True once the answer holds a whole "RPRT n" line (an extended answer
// puts other lines before it).
bool has_report(const std::string& answer) {
  const size_t at = answer.find(answer_tag);
  return at != std::string::npos && answer.find('\n', at) != std::string::npos;
}

// The n of the answer's "RPRT n"; none without a report. The daemon answers
// "RPRT 0" on success; a report that cannot be read counts as one.
std::optional<int> report_code(const std::string& answer) {
  const size_t at = answer.find(answer_tag);
  if (at == std::string::npos) return std::nullopt;
  const std::string_view rest = std::string_view(answer).substr(at + answer_tag.size());
  int code = 0;
  if (std::from_chars(rest.data(), rest.data() + rest.size(), code).ec != std::errc{}) return 0;
  return code;
}

// Reads the answer until it holds its report, the daemon closes, or the
// earlier of its deadline and `until_ns` passes. True while it may still come.
// Leaves the connection open: an on command's may be kept.
bool read_answer(PttCommand& c, int64_t until_ns) {
  if (!c.connection.valid()) return false;
  const int fd = c.connection.fd();
  const int64_t limit = std::min(until_ns, c.answer_deadline_ns);
  std::array<uint8_t, answer_limit> buffer{};
  while (c.answer.size() < answer_limit && !has_report(c.answer)) {
    // Whole milliseconds only, so that no wait of the caller's is overrun.
    const int64_t left_ms = (limit - monotonic_ns()) / ns_per_ms;
    if (left_ms <= 0) {
      if (limit < c.answer_deadline_ns) return true;
      c.unanswered = true;
      break;
    }
    if (!wait_readable(fd, static_cast<int>(left_ms))) continue;
    const long n = stream_receive(fd, std::span(buffer).first(answer_limit - c.answer.size()));
    if (n < 0) c.broken = true;
    if (n <= 0) break;
    c.answer.append(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(n));
  }
  return false;
}

}  // namespace

Keyer::Keyer(const RigctldSettings& settings, const Console& console, int64_t answer_timeout_ns)
    : settings_(settings), console_(console), answer_timeout_ns_(answer_timeout_ns) {}

void Keyer::set_report(std::function<void(std::string_view line)> report) {
  report_ = std::move(report);
}

// Prints a keying line at once and keeps it, without its line end, for the report.
void Keyer::note(std::string line) {
  log_message(console_, line);
  if (line.ends_with('\n')) line.pop_back();
  unreported_.push_back(std::move(line));
}

KeyingStep Keyer::apply(KeyingEvent event, int refusal_code) {
  KeyingStep step = keying_next(account_, event);
  account_ = step.account;
  const char* on = settings_.PTT_ON_Command.c_str();
  const char* off = settings_.PPT_OFF_Command.c_str();
  for (const KeyingLine line : step.lines) {
    switch (line) {
      case KeyingLine::refused:
        note(format_text("rigctld refused \"%s\" (RPRT %d): check the rig's PTT type (rigctld -P; "
                         "for the dummy rig, -P RIG)\n",
                         event.kind == Kind::off_refused ? off : on, refusal_code));
        break;
      case KeyingLine::unkey_owed:
        note(format_text("Unkeying failed, the transmitter may still be keyed: sending \"%s\" "
                         "again every second\n",
                         off));
        break;
      case KeyingLine::unkeyed:
        note(format_text("Transmitter unkeyed: rigctld took \"%s\"\n", off));
        break;
      case KeyingLine::exit_not_taken:
        note(format_text("Unkeying failed at exit, the transmitter may still be keyed: rigctld "
                         "did not take \"%s\"\n",
                         off));
        break;
      case KeyingLine::exit_on_pending:
        note(format_text("Unkeying at exit not confirmed, the transmitter may still be keyed: "
                         "rigctld has not answered \"%s\"\n",
                         on));
        break;
      case KeyingLine::pending_given_up:
        note(format_text("rigctld left more than %d \"%s\" unanswered: the oldest is given up, "
                         "and the transmitter may stay keyed until --unkey or the exit sends "
                         "\"%s\"\n",
                         max_pending_on, on, off));
        break;
    }
  }
  if (step.close_oldest_pending && !pending_.empty()) pending_.pop_front();
  return step;
}

// Connects and sends. `quiet`: no console line (retries).
void Keyer::send_command(PttCommand& c, bool quiet, int connect_ms) {
  c.settled = false;
  NetResult connection = tcp_connect(settings_.Address.c_str(), settings_.Port.c_str(), connect_ms);
  if (!connection.status.ok()) {
    if (quiet) return;
    switch (connection.status.failed_at) {
      case SysStep::resolve:
        console_print(console_, "getaddrinfo failed with error: %d\n", connection.status.error);
        break;
      case SysStep::socket:
        console_print(console_, "socket failed with error: %ld\n",
                      static_cast<long>(connection.status.error));
        break;
      default:
        note("Could not connect to HamLib RIG Control Daemon!\n");
        break;
    }
    return;
  }
  const int fd = connection.socket.fd();
  const std::string& command = c.on ? settings_.PTT_ON_Command : settings_.PPT_OFF_Command;
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(command.data()),
                                       command.size());
  if (const SysResult sent = send_all(fd, bytes); !sent.ok()) {
    if (!quiet) console_print(console_, "send failed with error: %d\n", sent.error);
    return;
  }
  // The daemon reads the command's argument up to the end of the stream.
  (void)shutdown_send(fd);
  c.delivered = true;
  c.connection = std::move(connection.socket);
  c.answer_deadline_ns = monotonic_ns() + answer_timeout_ns_;
  if (c.on) {
    (void)apply({.kind = Kind::on_delivered});
  } else {
    c.settles = apply({.kind = Kind::off_delivered, .purpose = c.purpose}).settles;
  }
}

// An on command's answer, read to its end. One left unanswered keeps its
// connection: its answer or close later tells that rigctld ran it.
void Keyer::account_on(PttCommand& c) {
  if (!c.delivered) return;
  const std::optional<int> code = report_code(c.answer);
  if (!code && c.unanswered && !c.broken) {
    (void)apply({.kind = Kind::on_unanswered});
    pending_.push_back({std::move(c.connection), std::move(c.answer)});
    return;
  }
  c.connection.close();
  if (code && *code != 0) {
    (void)apply({.kind = Kind::on_refused}, *code);
  } else {
    (void)apply({.kind = Kind::on_taken});
  }
}

// An off command's answer, read to its end; a peer that closes without a
// report counts as having taken it, as keying peers need not answer at all.
KeyingStep Keyer::account_off(const PttCommand& c) {
  const std::optional<int> code = report_code(c.answer);
  const KeyingEvent base{.purpose = c.purpose, .settles = c.settles};
  KeyingEvent event = base;
  event.kind = Kind::off_taken;
  if (!c.delivered || (!code && (c.unanswered || c.broken))) event.kind = Kind::off_not_taken;
  if (code && *code != 0) event.kind = Kind::off_refused;
  return apply(event, code.value_or(0));
}

// Reads, without waiting, what the kept on commands' connections hold.
void Keyer::poll_pending() {
  std::array<uint8_t, answer_limit> buffer{};
  for (size_t i = 0; i < pending_.size();) {
    PendingOn& p = pending_[i];
    bool ended = false;
    while (!ended && wait_readable(p.connection.fd(), 0)) {
      const long n = stream_receive(p.connection.fd(), buffer);
      if (n > 0) p.answer.append(reinterpret_cast<const char*>(buffer.data()),
                                 static_cast<size_t>(n));
      ended = n <= 0 || has_report(p.answer) || p.answer.size() >= answer_limit;
    }
    if (!ended) {
      ++i;
      continue;
    }
    const std::optional<int> code = report_code(p.answer);
    pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(i));
    if (code && *code != 0) {
      (void)apply({.kind = Kind::late_refused}, *code);
    } else {
      (void)apply({.kind = Kind::late_taken});
    }
  }
}

// One off command sent and its answer read by `deadline_ns` at the latest,
// all with the lock held: an exchange in between would make a late answer
// ambiguous.
KeyingStep Keyer::exchange_off(OffPurpose purpose, int64_t deadline_ns) {
  PttCommand c;
  c.purpose = purpose;
  int connect_ms = connect_timeout_ms;
  if (deadline_ns != std::numeric_limits<int64_t>::max()) {
    connect_ms = static_cast<int>(std::clamp<int64_t>((deadline_ns - monotonic_ns()) / ns_per_ms,
                                                      exit_connect_floor_ms, connect_timeout_ms));
  }
  send_command(c, purpose == OffPurpose::retry, connect_ms);
  // The deadline came before the answer: as good as none.
  if (read_answer(c, deadline_ns)) c.unanswered = true;
  c.connection.close();
  return account_off(c);
}

PttCommand Keyer::deliver_ptt(bool on) {
  PttCommand c;
  c.on = on;
  if (settings_.Address.empty()) return c;
  MutexLock lock(mutex_);
  if (apply({.kind = on ? Kind::on_requested : Kind::off_requested}).send == KeyingSend::nothing) {
    return c;
  }
  // An answer that came counts before an off command goes.
  if (!on) poll_pending();
  send_command(c, false, connect_timeout_ms);
  return c;
}

bool Keyer::collect_ptt(PttCommand& c, int64_t until_ns) {
  if (c.settled) return false;
  if (read_answer(c, until_ns)) return true;
  c.settled = true;
  MutexLock lock(mutex_);
  if (c.on) {
    account_on(c);
  } else {
    c.connection.close();
    (void)account_off(c);
  }
  return false;
}

void Keyer::report_keying() {
  std::vector<std::string> lines;
  {
    MutexLock lock(mutex_);
    lines.swap(unreported_);
  }
  if (report_) {
    for (const std::string& line : lines) report_(line);
  }
}

void Keyer::set_ptt(bool on) {
  PttCommand c = deliver_ptt(on);
  (void)collect_ptt(c, std::numeric_limits<int64_t>::max());
  report_keying();
}

void Keyer::retry_unkey() {
  if (settings_.Address.empty()) return;
  {
    MutexLock lock(mutex_);
    poll_pending();
    if (apply({.kind = Kind::retry_tick}).send == KeyingSend::off) {
      (void)exchange_off(OffPurpose::retry, std::numeric_limits<int64_t>::max());
    }
  }
  report_keying();
}

void Keyer::count_as_keyed() {
  MutexLock lock(mutex_);
  (void)apply({.kind = Kind::unkey_requested});
}

bool Keyer::unkey_for_exit(int64_t deadline_ns) {
  if (settings_.Address.empty()) return true;
  bool unkeyed = true;
  {
    MutexLock lock(mutex_);
    poll_pending();
    if (apply({.kind = Kind::exit_requested}).send == KeyingSend::off) {
      const KeyingStep step = exchange_off(OffPurpose::exit, deadline_ns);
      unkeyed = std::ranges::none_of(step.lines, [](KeyingLine line) {
        return line == KeyingLine::exit_not_taken || line == KeyingLine::exit_on_pending;
      });
    }
  }
  report_keying();
  return unkeyed;
}

KeyingAccount Keyer::account() const {
  MutexLock lock(mutex_);
  return account_;
}

size_t Keyer::kept_connections() const {
  MutexLock lock(mutex_);
  return pending_.size();
}

}  // namespace kestrelis
