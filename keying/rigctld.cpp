#include "keying/rigctld.hpp"

#include <array>
#include <charconv>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "config/config.hpp"
#include "console/console_log.hpp"
#include "platform/clock.hpp"
#include "platform/net.hpp"

namespace kestrelis {

namespace {

constexpr int connect_timeout_ms = 2000;
constexpr int answer_timeout_ms = 500;
constexpr std::string_view answer_tag = "RPRT ";

enum class Delivery { taken, refused, failed };

// Reads rigctld's answer until it closes, ends a line, or the time is up.
// True when the daemon refused the command: the daemon answers "RPRT 0" on
// success, and no answer at all counts as success.
bool refused_answer(const Console& console, int fd, const std::string& command, bool quiet) {
  std::array<uint8_t, 64> answer{};
  size_t size = 0;
  auto text = [&] { return std::string_view(reinterpret_cast<const char*>(answer.data()), size); };
  const int64_t deadline = monotonic_ms() + answer_timeout_ms;
  while (size < answer.size() && text().find('\n') == std::string_view::npos) {
    const int64_t left = deadline - monotonic_ms();
    if (left <= 0 || !wait_readable(fd, static_cast<int>(left))) break;
    const long n = stream_receive(fd, std::span(answer).subspan(size));
    if (n <= 0) break;
    size += static_cast<size_t>(n);
  }
  const size_t at = text().find(answer_tag);
  if (at == std::string_view::npos) return false;
  const std::string_view rest = text().substr(at + answer_tag.size());
  int code = 0;
  if (std::from_chars(rest.data(), rest.data() + rest.size(), code).ec != std::errc{}) return false;
  if (code == 0) return false;
  if (!quiet) console_log(console, "rigctld refused \"%s\" (RPRT %d)\n", command.c_str(), code);
  return true;
}

// One connection carrying `command`. `quiet`: no console line (retries).
Delivery exchange(const Keyer& k, const std::string& command, bool quiet) {
  const TncConfig& config = k.config;
  NetResult connection =
      tcp_connect(config.Address.c_str(), config.Port.c_str(), connect_timeout_ms);
  if (connection.failed_at != NetStep::none) {
    if (quiet) return Delivery::failed;
    switch (connection.failed_at) {
      case NetStep::resolve:
        console_print(k.console, "getaddrinfo failed with error: %d\n", connection.error);
        break;
      case NetStep::socket:
        console_print(k.console, "socket failed with error: %ld\n",
                      static_cast<long>(connection.error));
        break;
      default:
        console_log(k.console, "Could not connect to HamLib RIG Control Daemon!\n");
        break;
    }
    return Delivery::failed;
  }
  const int fd = connection.socket.fd();
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(command.data()),
                                       command.size());
  if (int error = send_all(fd, bytes); error != 0) {
    if (!quiet) console_print(k.console, "send failed with error: %d\n", error);
    return Delivery::failed;
  }
  // The daemon reads the command's argument up to the end of the stream.
  (void)shutdown_send(fd);
  return refused_answer(k.console, fd, command, quiet) ? Delivery::refused : Delivery::taken;
}

// Called with the keyer's mutex held after an off command.
void settle_unkey(Keyer& k, Delivery delivery) {
  const std::string& command = k.config.PPT_OFF_Command;
  if (delivery == Delivery::taken) {
    if (k.unkey_reported)
      console_log(k.console, "Transmitter unkeyed: rigctld took \"%s\"\n", command.c_str());
    k.keyed = false;
    k.unkey_owed = false;
    k.unkey_reported = false;
    return;
  }
  if (!k.keyed) return;
  k.unkey_owed = true;
  if (!k.unkey_reported) {
    console_log(k.console,
                "Unkeying failed, the transmitter may still be keyed: sending \"%s\" again every "
                "second\n",
                command.c_str());
    k.unkey_reported = true;
  }
}

}  // namespace

void set_ptt(Keyer& k, bool on) {
  if (k.config.Address.empty()) return;
  std::lock_guard lock(k.mutex);
  if (k.exiting) return;
  if (!on) {
    settle_unkey(k, exchange(k, k.config.PPT_OFF_Command, false));
    return;
  }
  if (exchange(k, k.config.PTT_ON_Command, false) == Delivery::taken) {
    // Keyed on purpose now: resending an older off command would cut this transmission.
    k.keyed = true;
    k.unkey_owed = false;
  }
}

void retry_unkey(Keyer& k) {
  if (k.config.Address.empty()) return;
  std::lock_guard lock(k.mutex);
  if (k.exiting || !k.unkey_owed) return;
  const Delivery delivery = exchange(k, k.config.PPT_OFF_Command, true);
  if (delivery == Delivery::taken) settle_unkey(k, delivery);
}

void unkey_for_exit(Keyer& k) {
  if (k.config.Address.empty()) return;
  std::lock_guard lock(k.mutex);
  if (k.keyed) (void)exchange(k, k.config.PPT_OFF_Command, false);
  k.keyed = false;
  k.unkey_owed = false;
  k.exiting = true;
}

}  // namespace kestrelis
