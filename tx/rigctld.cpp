#include "tx/rigctld.hpp"

#include <array>
#include <charconv>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "app/config.hpp"
#include "app/console_log.hpp"
#include "platform/clock.hpp"
#include "platform/net.hpp"

namespace {

constexpr int connect_timeout_ms = 2000;
constexpr int answer_timeout_ms = 500;
constexpr std::string_view answer_tag = "RPRT ";

// Serialises exchanges, so that the exit path and the retries know the
// keying state.
std::mutex ptt_mutex;
bool keyed = false;           // the daemon took an on command, and no off command since
bool unkey_owed = false;      // an off command failed while keyed: retry_unkey resends it
bool unkey_reported = false;  // the operator was told the transmitter may be keyed
bool exiting = false;

enum class Delivery { taken, refused, failed };

// Reads rigctld's answer until it closes, ends a line, or the time is up.
// True when the daemon refused the command: the daemon answers "RPRT 0" on
// success, and no answer at all counts as success.
bool refused_answer(int fd, const std::string& command, bool quiet) {
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
  if (!quiet) console_log("rigctld refused \"%s\" (RPRT %d)\n", command.c_str(), code);
  return true;
}

// One connection carrying `command`. `quiet`: no console line (retries).
Delivery exchange(const std::string& command, bool quiet) {
  const TncConfig& config = tnc_config;
  NetResult connection =
      tcp_connect(config.Address.c_str(), config.Port.c_str(), connect_timeout_ms);
  if (connection.failed_at != NetStep::none) {
    if (quiet) return Delivery::failed;
    switch (connection.failed_at) {
      case NetStep::resolve:
        console_print("getaddrinfo failed with error: %d\n", connection.error);
        break;
      case NetStep::socket:
        console_print("socket failed with error: %ld\n", static_cast<long>(connection.error));
        break;
      default:
        console_log("Could not connect to HamLib RIG Control Daemon!\n");
        break;
    }
    return Delivery::failed;
  }
  const int fd = connection.socket.fd();
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(command.data()),
                                       command.size());
  if (int error = send_all(fd, bytes); error != 0) {
    if (!quiet) console_print("send failed with error: %d\n", error);
    return Delivery::failed;
  }
  // The daemon reads the command's argument up to the end of the stream.
  shutdown_send(fd);
  return refused_answer(fd, command, quiet) ? Delivery::refused : Delivery::taken;
}

// Called with ptt_mutex held after an off command.
void settle_unkey(Delivery delivery) {
  const std::string& command = tnc_config.PPT_OFF_Command;
  if (delivery == Delivery::taken) {
    if (unkey_reported) console_log("Transmitter unkeyed: rigctld took \"%s\"\n", command.c_str());
    keyed = false;
    unkey_owed = false;
    unkey_reported = false;
    return;
  }
  if (!keyed) return;
  unkey_owed = true;
  if (!unkey_reported) {
    console_log(
        "Unkeying failed, the transmitter may still be keyed: sending \"%s\" again every "
        "second\n",
        command.c_str());
    unkey_reported = true;
  }
}

}  // namespace

void set_ptt(bool on) {
  if (tnc_config.Address.empty()) return;
  std::lock_guard lock(ptt_mutex);
  if (exiting) return;
  if (!on) {
    settle_unkey(exchange(tnc_config.PPT_OFF_Command, false));
    return;
  }
  if (exchange(tnc_config.PTT_ON_Command, false) == Delivery::taken) {
    // Keyed on purpose now: resending an older off command would cut this transmission.
    keyed = true;
    unkey_owed = false;
  }
}

void retry_unkey() {
  if (tnc_config.Address.empty()) return;
  std::lock_guard lock(ptt_mutex);
  if (exiting || !unkey_owed) return;
  const Delivery delivery = exchange(tnc_config.PPT_OFF_Command, true);
  if (delivery == Delivery::taken) settle_unkey(delivery);
}

void unkey_for_exit() {
  if (tnc_config.Address.empty()) return;
  std::lock_guard lock(ptt_mutex);
  if (keyed) (void)exchange(tnc_config.PPT_OFF_Command, false);
  keyed = false;
  unkey_owed = false;
  exiting = true;
}
