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

// Serialises exchanges, so that the exit path knows the last keying state.
std::mutex ptt_mutex;
bool keyed = false;
bool exiting = false;

// Reads rigctld's answer until it closes, ends a line, or the time is up, and
// reports a refusal. The daemon answers "RPRT 0" on success.
void check_answer(int fd, const std::string& command) {
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
  if (at == std::string_view::npos) return;
  const std::string_view rest = text().substr(at + answer_tag.size());
  int code = 0;
  if (std::from_chars(rest.data(), rest.data() + rest.size(), code).ec != std::errc{}) return;
  if (code != 0) console_log("rigctld refused \"%s\" (RPRT %d)\n", command.c_str(), code);
}

void exchange(const std::string& command) {
  const TncConfig& config = tnc_config;
  NetResult connection =
      tcp_connect(config.Address.c_str(), config.Port.c_str(), connect_timeout_ms);
  switch (connection.failed_at) {
    case NetStep::none:
      break;
    case NetStep::resolve:
      console_print("getaddrinfo failed with error: %d\n", connection.error);
      return;
    case NetStep::socket:
      console_print("socket failed with error: %ld\n", static_cast<long>(connection.error));
      return;
    default:
      console_log("Could not connect to HamLib RIG Control Daemon!\n");
      return;
  }
  const int fd = connection.socket.fd();
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(command.data()),
                                       command.size());
  if (int error = send_all(fd, bytes); error != 0) {
    console_print("send failed with error: %d\n", error);
    return;
  }
  // The daemon reads the command's argument up to the end of the stream.
  shutdown_send(fd);
  check_answer(fd, command);
}

}  // namespace

void set_ptt(bool on) {
  if (tnc_config.Address.empty()) return;
  std::lock_guard lock(ptt_mutex);
  if (exiting) return;
  keyed = on;
  exchange(on ? tnc_config.PTT_ON_Command : tnc_config.PPT_OFF_Command);
}

void unkey_for_exit() {
  if (tnc_config.Address.empty()) return;
  std::lock_guard lock(ptt_mutex);
  if (keyed) exchange(tnc_config.PPT_OFF_Command);
  keyed = false;
  exiting = true;
}
