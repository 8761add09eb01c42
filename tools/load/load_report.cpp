// The report lines and the helpers every section uses.

#include <cstdarg>
#include <cstdio>

#include "load/load_sections.hpp"
#include "platform/clock.hpp"
#include "system/load_sockets.hpp"

namespace kestrelis {

namespace {

constexpr size_t modem_datagram_max = 2048;

const int64_t tool_started_ns = monotonic_ns();

[[gnu::format(printf, 2, 0)]] void print_line(FILE* out, const char* format, va_list args,
                                              const char* suffix) {
  std::vfprintf(out, format, args);
  std::fputs(suffix, out);
  std::fputc('\n', out);
  std::fflush(out);
}

}  // namespace

void report_line(const char* format, ...) {
  va_list args;
  va_start(args, format);
  print_line(stdout, format, args, "");
  va_end(args);
}

void report_check(Report& report, bool ok, const char* format, ...) {
  va_list args;
  va_start(args, format);
  print_line(stdout, format, args, ok ? "" : "  (FAILED)");
  va_end(args);
  if (!ok) {
    std::array<char, 200> name{};
    va_start(args, format);
    std::vsnprintf(name.data(), name.size(), format, args);
    va_end(args);
    report.failed.emplace_back(name.data());
  }
}

void progress(const char* format, ...) {
  std::fprintf(stderr, "kestrelis-load [%6.1f s]: ",
               static_cast<double>(monotonic_ns() - tool_started_ns) / 1e9);
  va_list args;
  va_start(args, format);
  print_line(stderr, format, args, "");
  va_end(args);
}

void send_stream(LoadRun& run, std::span<const uint8_t> bytes) {
  while (!bytes.empty()) {
    const size_t n = std::min(bytes.size(), modem_datagram_max);
    (void)datagram_send(run.udp.fd(), run.modem_in, bytes.first(n));
    bytes = bytes.subspan(n);
  }
}

void wait_until_quiet(LoadRun& run, int timeout_ms) {
  const int64_t deadline = monotonic_ms() + timeout_ms;
  while (monotonic_ms() < deadline) {
    const std::optional<UdpPortStats> udp = udp_port_stats(run.settings.modem_in_port);
    int64_t last_ns = 0;
    tally_packets(run.tally, &last_ns);
    if ((!udp || udp->queued_bytes == 0) && monotonic_ns() - last_ns > 300'000'000) return;
    sleep_ms(50);
  }
}

}  // namespace kestrelis
