// (c) GUI connect/disconnect cycles and abrupt ends while frames flow.

#include <algorithm>
#include <array>
#include <atomic>
#include <thread>

#include "load/load_sections.hpp"
#include "load/load_stream.hpp"
#include "platform/clock.hpp"
#include "system/child_process.hpp"
#include "system/load_sockets.hpp"
#include "wire/kiss.hpp"

namespace kestrelis {

namespace {

constexpr size_t flow_payload = 200;
constexpr int flow_rate = 500;  // frames per second while the GUIs come and go
// While a GUI stops reading: enough to fill the TNC's socket buffer (up to
// 4 MB with Linux's defaults) within seconds.
constexpr int stalled_flow_rate = 5000;
constexpr int served_timeout_ms = 5000;
constexpr int stalled_receive_buffer = 4096;
constexpr int stalled_timeout_ms = 30000;

enum Variant { closed_unserved, unread_data, reset, partial_frame, variant_count };

constexpr std::array<const char*, variant_count> variant_names = {
    "closed before being served", "closed with unread data", "reset (SO_LINGER 0)",
    "a bad request and half a frame, then closed"};

// Frames from the satellite at `rate` frames per second until `stop`.
void flow_frames(LoadRun& run, const std::atomic<int>& rate, const std::atomic<bool>& stop,
                 std::atomic<uint64_t>& sent) {
  int64_t last = monotonic_ns();
  double due = 0;
  while (!stop) {
    const int64_t now = monotonic_ns();
    due += rate * static_cast<double>(now - last) / 1e9;
    last = now;
    std::vector<uint8_t> bytes;
    for (; due >= 1; due -= 1) {
      const auto frame = load_frame('c', run.next_seq++, flow_payload);
      bytes.insert(bytes.end(), frame.begin(), frame.end());
      ++sent;
    }
    if (!bytes.empty()) {
      bytes.push_back(0x00);  // completes the last frame
      send_stream(run, bytes);
    }
    sleep_ms(2);
  }
}

// One GUI that comes and goes in the manner of `variant`. True when the TNC
// served it (sent it data) where the variant waits for that.
bool churn_once(uint16_t kiss_port, Variant variant) {
  NetResult c = tcp_connect("127.0.0.1", std::to_string(kiss_port).c_str(), 2000);
  if (!c.status.ok()) return false;
  Socket socket = std::move(c.socket);
  if (variant == closed_unserved) return true;
  const bool served = wait_readable(socket.fd(), served_timeout_ms);
  if (variant == reset) {
    std::array<uint8_t, 512> buffer{};
    (void)stream_receive(socket.fd(), buffer);
    close_with_reset(socket);
  } else if (variant == partial_frame) {
    const std::string_view request = "cmd:churn";
    std::vector<uint8_t> bytes =
        kiss_encode({reinterpret_cast<const uint8_t*>(request.data()), request.size()});
    bytes.insert(bytes.end(), {0xC0, 0x00, 'c', 'm', 0xDB});
    (void)send_all(socket.fd(), bytes);
  }
  return served;
}

}  // namespace

void run_churn_section(LoadRun& run) {
  const int cycles = run.options.churn_cycles;
  const int stalled_clients = run.options.quick ? 1 : 3;
  // Both counts are taken with one GUI connected.
  const auto before = process_stats(run.tnc.pid);
  gui_disconnect(run.gui);
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> flowed{0};
  std::atomic<int> rate{flow_rate};
  std::thread flow([&] { flow_frames(run, rate, stop, flowed); });

  std::array<int, variant_count> done{}, served{};
  int connect_failures = 0;
  const int64_t start = monotonic_ns();
  for (int i = 0; i < cycles; ++i) {
    const auto variant = static_cast<Variant>(i % variant_count);
    const bool ok = churn_once(run.settings.kiss_port, variant);
    if (variant == closed_unserved && !ok) ++connect_failures;
    ++done[variant];
    if (ok) ++served[variant];
    if ((i + 1) % 100 == 0) progress("(c) %d GUI cycles", i + 1);
  }
  const double cycle_ms = static_cast<double>(monotonic_ns() - start) / 1e6 / std::max(cycles, 1);

  // GUIs that stop reading: the TNC must give up on them and serve the next.
  std::vector<double> dropped_after;
  rate = stalled_flow_rate;
  for (int i = 0; i < stalled_clients; ++i) {
    NetResult c = tcp_connect("127.0.0.1", std::to_string(run.settings.kiss_port).c_str(), 2000);
    if (!c.status.ok()) continue;
    set_receive_buffer(c.socket.fd(), stalled_receive_buffer);
    const int64_t t0 = monotonic_ns();
    if (wait_peer_closed(c.socket.fd(), stalled_timeout_ms)) {
      dropped_after.push_back(static_cast<double>(monotonic_ns() - t0) / 1e9);
    }
    close_with_reset(c.socket);
    progress("(c) stalled GUI %d of %d done", i + 1, stalled_clients);
  }

  rate = flow_rate;
  // A fresh GUI must get the next frames, and a request must still go out.
  const uint32_t seq_mark = run.next_seq.load();
  const bool connected = gui_connect(run.gui, run.settings.kiss_port, run.tally, 5000);
  bool fresh_frames = false;
  for (int i = 0; i < 1000 && connected && !fresh_frames; ++i) {
    sleep_ms(10);
    std::lock_guard lock(run.tally.mutex);
    fresh_frames = run.tally.highest_seq >= seq_mark;
  }
  const uint64_t datagrams = run.modem.datagrams;
  const int64_t request_at = monotonic_ns();
  const bool requested = connected && gui_send_request(run.gui, "cmd:list");
  const bool transmitted = requested && wait_for_datagram(run.modem, datagrams, 10000);
  const double transmit_s = static_cast<double>(run.modem.last_ns - request_at) / 1e9;
  stop = true;
  flow.join();
  wait_until_quiet(run, 10000);
  const auto after = process_stats(run.tnc.pid);

  int total_served = 0;
  std::string breakdown;
  for (int v = 0; v < variant_count; ++v) {
    total_served += served[v];
    breakdown += (v == 0 ? "" : ", ") + std::to_string(done[v]) + " " + variant_names[v];
  }
  report_check(run.report, total_served == cycles,
               "(c) GUI connect/disconnect cycles survived: %d of %d (%s); %.1f ms per cycle",
               total_served, cycles, breakdown.c_str(), cycle_ms);
  std::string times;
  for (double t : dropped_after)
    times += (times.empty() ? "" : ", ") + std::to_string(t).substr(0, 4);
  report_check(run.report, static_cast<int>(dropped_after.size()) == stalled_clients,
               "(c) GUIs that stop reading (%d-byte receive buffer) dropped by the TNC: %zu of %d, "
               "after %s s",
               stalled_receive_buffer, dropped_after.size(), stalled_clients,
               times.empty() ? "-" : times.c_str());
  report_line(
      "(c) frames sent meanwhile: %llu, %zu-byte payloads, %d frames/s (%d while a GUI "
      "stopped reading)",
      static_cast<unsigned long long>(flowed.load()), flow_payload, flow_rate, stalled_flow_rate);
  report_check(run.report, fresh_frames && transmitted,
               "(c) afterwards: a fresh GUI received the next frames: %s; a request was "
               "transmitted: %s (%.2f s)",
               fresh_frames ? "yes" : "no", transmitted ? "yes" : "no",
               transmitted ? transmit_s : 0.0);
  if (before && after) {
    report_check(
        run.report,
        after->open_descriptors <= before->open_descriptors && after->threads == before->threads,
        "(c) TNC open descriptors %d before, %d after; threads %d before, %d after",
        before->open_descriptors, after->open_descriptors, before->threads, after->threads);
  }
}

}  // namespace kestrelis
