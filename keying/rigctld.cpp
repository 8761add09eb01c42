#include "keying/rigctld.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <limits>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "config/config.hpp"
#include "console/console_log.hpp"
#include "platform/clock.hpp"
#include "platform/net.hpp"

namespace kestrelis {

namespace {

constexpr int connect_timeout_ms = 2000;
constexpr int64_t ns_per_ms = 1'000'000;
constexpr size_t answer_limit = 128;
constexpr std::string_view answer_tag = "RPRT ";

// unconfirmed: delivered, but neither answered nor closed in time, or the
// connection broke: the daemon may be stuck with the rig.
enum class Delivery { taken, refused, unconfirmed, failed };

const std::string& command_text(const Keyer& k, bool on) {
  return on ? k.config.PTT_ON_Command : k.config.PPT_OFF_Command;
}

// Called with the keyer's mutex held: prints a keying failure at once and
// keeps it, without its line end, for the report.
void note(Keyer& k, std::string line) {
  log_message(k.console, line);
  if (line.ends_with('\n')) line.pop_back();
  k.unreported.push_back(std::move(line));
}

// Connects and sends. `quiet`: no console line (retries).
void send_command(Keyer& k, PttCommand& c, bool quiet) {
  c.settled = false;
  const TncConfig& config = k.config;
  NetResult connection =
      tcp_connect(config.Address.c_str(), config.Port.c_str(), connect_timeout_ms);
  if (connection.failed_at != NetStep::none) {
    if (quiet) return;
    switch (connection.failed_at) {
      case NetStep::resolve:
        console_print(k.console, "getaddrinfo failed with error: %d\n", connection.error);
        break;
      case NetStep::socket:
        console_print(k.console, "socket failed with error: %ld\n",
                      static_cast<long>(connection.error));
        break;
      default:
        note(k, "Could not connect to HamLib RIG Control Daemon!\n");
        break;
    }
    return;
  }
  const int fd = connection.socket.fd();
  const std::string& command = command_text(k, c.on);
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(command.data()),
                                       command.size());
  if (int error = send_all(fd, bytes); error != 0) {
    if (!quiet) console_print(k.console, "send failed with error: %d\n", error);
    return;
  }
  // The daemon reads the command's argument up to the end of the stream.
  (void)shutdown_send(fd);
  c.delivered = true;
  c.connection = std::move(connection.socket);
  c.answer_deadline_ns = monotonic_ns() + k.answer_timeout_ns;
}

// True once the answer holds a whole "RPRT n" line (an extended answer
// puts other lines before it).
bool has_report(const std::string& answer) {
  const size_t at = answer.find(answer_tag);
  return at != std::string::npos && answer.find('\n', at) != std::string::npos;
}

// Reads the answer until it holds its report, the daemon closes, or the
// earlier of its deadline and `until_ns` passes. True while it may still come.
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
    if (n < 0) c.unanswered = true;
    if (n <= 0) break;
    c.answer.append(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(n));
  }
  c.connection.close();
  return false;
}

// What became of the command; prints a refusal unless `quiet`. The daemon
// answers "RPRT 0" on success; a peer that closes without a report counts as
// having taken it, as keying peers need not answer at all.
Delivery outcome(Keyer& k, PttCommand& c, bool quiet) {
  if (!c.delivered) return Delivery::failed;
  const size_t at = c.answer.find(answer_tag);
  if (at == std::string::npos) return c.unanswered ? Delivery::unconfirmed : Delivery::taken;
  const std::string_view rest = std::string_view(c.answer).substr(at + answer_tag.size());
  int code = 0;
  if (std::from_chars(rest.data(), rest.data() + rest.size(), code).ec != std::errc{}) {
    return Delivery::taken;
  }
  if (code == 0) return Delivery::taken;
  if (!quiet) {
    note(k, format_text("rigctld refused \"%s\" (RPRT %d)\n", command_text(k, c.on).c_str(), code));
  }
  return Delivery::refused;
}

// Called with the keyer's mutex held after an off command.
void settle_unkey(Keyer& k, Delivery delivery) {
  const std::string& command = k.config.PPT_OFF_Command;
  if (delivery == Delivery::taken) {
    if (k.unkey_reported) {
      note(k, format_text("Transmitter unkeyed: rigctld took \"%s\"\n", command.c_str()));
    }
    k.keyed = false;
    k.unkey_owed = false;
    k.unkey_reported = false;
    return;
  }
  if (!k.keyed) return;
  k.unkey_owed = true;
  if (!k.unkey_reported) {
    note(k, format_text("Unkeying failed, the transmitter may still be keyed: sending \"%s\" again "
                        "every second\n",
                        command.c_str()));
    k.unkey_reported = true;
  }
}

}  // namespace

PttCommand deliver_ptt(Keyer& k, bool on) {
  PttCommand c;
  c.on = on;
  if (k.config.Address.empty()) return c;
  std::lock_guard lock(k.mutex);
  if (k.exiting) return c;
  send_command(k, c, false);
  if (on && c.delivered) {
    // Keyed on purpose now: resending an older off command would cut this
    // transmission, and the exit path must unkey it.
    c.keyed_before = std::exchange(k.keyed, true);
    c.owed_before = std::exchange(k.unkey_owed, false);
  }
  return c;
}

bool collect_ptt(Keyer& k, PttCommand& c, int64_t until_ns) {
  if (c.settled) return false;
  if (read_answer(c, until_ns)) return true;
  c.settled = true;
  std::lock_guard lock(k.mutex);
  const Delivery delivery = outcome(k, c, false);
  if (k.exiting) return false;
  if (!c.on) {
    settle_unkey(k, delivery);
  } else if (delivery == Delivery::refused) {
    k.keyed = c.keyed_before;
    k.unkey_owed = c.owed_before;
  }
  return false;
}

void report_keying(Keyer& k) {
  std::vector<std::string> lines;
  {
    std::lock_guard lock(k.mutex);
    lines.swap(k.unreported);
  }
  if (k.report) {
    for (const std::string& line : lines) k.report(line);
  }
}

void set_ptt(Keyer& k, bool on) {
  PttCommand c = deliver_ptt(k, on);
  (void)collect_ptt(k, c, std::numeric_limits<int64_t>::max());
  report_keying(k);
}

void retry_unkey(Keyer& k) {
  if (k.config.Address.empty()) return;
  PttCommand c;
  {
    // Held throughout: a keying in between would make a late "taken" unkey it.
    std::lock_guard lock(k.mutex);
    if (k.exiting || !k.unkey_owed) return;
    send_command(k, c, true);
    (void)read_answer(c, std::numeric_limits<int64_t>::max());
    const Delivery delivery = outcome(k, c, true);
    if (delivery == Delivery::taken) settle_unkey(k, delivery);
  }
  report_keying(k);
}

bool unkey_for_exit(Keyer& k) {
  if (k.config.Address.empty()) return true;
  PttCommand c;
  bool taken = true;
  {
    std::lock_guard lock(k.mutex);
    if (k.keyed) {
      send_command(k, c, false);
      (void)read_answer(c, std::numeric_limits<int64_t>::max());
      taken = outcome(k, c, false) == Delivery::taken;
      if (!taken) {
        note(k, format_text("Unkeying failed at exit, the transmitter may still be keyed: "
                            "rigctld did not take \"%s\"\n",
                            k.config.PPT_OFF_Command.c_str()));
      }
    }
    k.keyed = false;
    k.unkey_owed = false;
    k.exiting = true;
  }
  report_keying(k);
  return taken;
}

}  // namespace kestrelis
