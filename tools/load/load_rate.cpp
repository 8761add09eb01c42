// (a) A stream of valid frames at rising rates until the first loss.

#include <algorithm>
#include <cmath>
#include <optional>

#include "load/load_sections.hpp"
#include "load/load_stream.hpp"
#include "platform/clock.hpp"
#include "system/child_process.hpp"
#include "system/load_sockets.hpp"
#include "wire/csp.hpp"

namespace kestrelis {

namespace {

constexpr size_t payload_size = 40;
constexpr int64_t tick_ns = 1'000'000;
constexpr int64_t sample_ns = 100'000'000;
constexpr int64_t kept_pace_ns = 500'000'000;  // the queue must be empty this soon after a step
constexpr double rate_limit = 2'000'000;
constexpr int step_limit = 60;

struct RateStep {
  double rate = 0;       // frames per second asked for
  double sent_rate = 0;  // frames per second the tool managed to send
  uint64_t frames = 0;
  SeqCount seqs;
  uint64_t drops = 0;       // kernel drops at the TNC's port during the step
  uint64_t peak_queue = 0;  // bytes
  int64_t drain_ns = 0;     // from the last datagram until the queue was empty
  bool kept_pace = false;
};

uint64_t udp_drops(const LoadRun& run) {
  const auto stats = udp_port_stats(run.settings.modem_in_port);
  return stats ? stats->drops : 0;
}

// Waits until every frame of the step has arrived, or none has for `quiet_ms`.
void wait_for_step(LoadRun& run, uint32_t first, uint64_t frames, int quiet_ms) {
  uint64_t seen = tally_packets(run.tally);
  int64_t last_progress = monotonic_ms();
  if (count_seqs(run.tally, first, static_cast<uint32_t>(frames)).missing == 0) return;
  while (monotonic_ms() - last_progress < quiet_ms) {
    sleep_ms(20);
    const uint64_t now_seen = tally_packets(run.tally);
    if (now_seen != seen) {
      seen = now_seen;
      last_progress = monotonic_ms();
      if (count_seqs(run.tally, first, static_cast<uint32_t>(frames)).missing == 0) return;
    }
  }
}

RateStep run_step(LoadRun& run, double rate, double seconds) {
  RateStep step;
  step.rate = rate;
  step.frames = static_cast<uint64_t>(std::llround(rate * seconds));
  const uint32_t first = run.next_seq.fetch_add(static_cast<uint32_t>(step.frames));
  // Every frame is made before the clock starts: the tool's own work must
  // not slow its sending.
  std::vector<uint8_t> stream;
  std::vector<size_t> frame_end;
  for (uint64_t i = 0; i < step.frames; ++i) {
    const auto frame = load_frame('a', first + static_cast<uint32_t>(i), payload_size);
    stream.insert(stream.end(), frame.begin(), frame.end());
    frame_end.push_back(stream.size());
  }
  stream.insert(stream.end(), 4, 0x00);  // completes the last frame
  frame_end.back() = stream.size();

  const uint64_t drops_before = udp_drops(run);
  const int64_t start = monotonic_ns();
  int64_t next_sample = start;
  size_t sent_bytes = 0;
  uint64_t sent_frames = 0;
  while (sent_frames < step.frames) {
    const int64_t now = monotonic_ns();
    const auto due = std::min<uint64_t>(
        step.frames, static_cast<uint64_t>(rate * static_cast<double>(now - start) / 1e9) + 1);
    if (due > sent_frames) {
      const size_t end = frame_end[due - 1];
      send_stream(run, std::span(stream).subspan(sent_bytes, end - sent_bytes));
      sent_bytes = end;
      sent_frames = due;
    }
    if (now >= next_sample) {
      if (const auto udp = udp_port_stats(run.settings.modem_in_port)) {
        step.peak_queue = std::max(step.peak_queue, udp->queued_bytes);
      }
      next_sample = now + sample_ns;
    }
    sleep_until_ns(start + ((now - start) / tick_ns + 1) * tick_ns);
  }
  const int64_t sent_at = monotonic_ns();
  step.sent_rate = static_cast<double>(step.frames) * 1e9 / static_cast<double>(sent_at - start);
  for (;;) {
    const auto udp = udp_port_stats(run.settings.modem_in_port);
    if (!udp || udp->queued_bytes == 0 || monotonic_ns() - sent_at > 30'000'000'000) break;
    step.peak_queue = std::max(step.peak_queue, udp->queued_bytes);
    sleep_ms(2);
  }
  step.drain_ns = monotonic_ns() - sent_at;
  step.kept_pace = step.drain_ns <= kept_pace_ns;
  wait_for_step(run, first, step.frames, 1000);
  step.seqs = count_seqs(run.tally, first, static_cast<uint32_t>(step.frames));
  step.drops = udp_drops(run) - drops_before;
  return step;
}

}  // namespace

void run_rate_section(LoadRun& run) {
  const bool quick = run.options.quick;
  const double seconds = quick ? 0.5 : 5.0;
  const double factor = quick ? 2.0 : 1.25;
  const size_t frame_bytes = load_frame('a', 0, payload_size).size();
  const double bits_per_frame = static_cast<double>(frame_bytes * 8);
  report_line(
      "(a) frames: %zu bytes each (port %u, source %u, %zu-byte payload), back to back in "
      "datagrams of up to 2048 bytes; %.1f s per rate, each rate %.2f times the last",
      frame_bytes, digipeater_port, satellite_address, payload_size, seconds, factor);
  const auto cpu_before = process_stats(run.tnc.pid);
  uint64_t frames_total = 0;
  std::optional<RateStep> zero_loss, kept_pace, first_loss;
  bool tool_limited = false;
  double rate = quick ? 2000 : 250;
  for (int i = 0; i < step_limit && rate <= rate_limit; ++i, rate *= factor) {
    const RateStep step = run_step(run, std::round(rate), seconds);
    frames_total += step.frames;
    progress(
        "(a) %.0f frames/s (sent at %.0f): %llu missing, %llu duplicated, peak UDP queue "
        "%llu kB, queue empty %.0f ms after the step, %llu kernel drops",
        step.rate, step.sent_rate, static_cast<unsigned long long>(step.seqs.missing),
        static_cast<unsigned long long>(step.seqs.duplicated),
        static_cast<unsigned long long>(step.peak_queue / 1024),
        static_cast<double>(step.drain_ns) / 1e6, static_cast<unsigned long long>(step.drops));
    if (step.seqs.missing > 0 || step.seqs.duplicated > 0) {
      first_loss = step;
      break;
    }
    zero_loss = step;
    if (step.kept_pace && (!kept_pace || kept_pace->rate < step.rate)) kept_pace = step;
    if (step.sent_rate < 0.9 * step.rate) {
      tool_limited = true;
      break;
    }
  }
  wait_until_quiet(run, 60000);
  const auto cpu_after = process_stats(run.tnc.pid);

  if (zero_loss) {
    report_line("(a) highest frame rate with zero loss: %.0f frames/s = %.2f Mbit/s input",
                zero_loss->rate, zero_loss->rate * bits_per_frame / 1e6);
  } else {
    report_line("(a) highest frame rate with zero loss: none (loss at the first rate)");
  }
  if (kept_pace) {
    report_line(
        "(a) highest frame rate kept up with (zero loss, UDP queue empty within 0.5 s of "
        "the step's end): %.0f frames/s = %.2f Mbit/s input",
        kept_pace->rate, kept_pace->rate * bits_per_frame / 1e6);
  }
  if (first_loss) {
    std::string missing;
    for (uint32_t seq : first_loss->seqs.first_missing) {
      missing += ' ';
      missing += std::to_string(seq);
    }
    report_line(
        "(a) first loss: at %.0f frames/s, %llu of %llu frames missing, %llu duplicated; "
        "kernel UDP drops at the TNC's port %llu; first missing:%s",
        first_loss->rate, static_cast<unsigned long long>(first_loss->seqs.missing),
        static_cast<unsigned long long>(first_loss->frames),
        static_cast<unsigned long long>(first_loss->seqs.duplicated),
        static_cast<unsigned long long>(first_loss->drops), missing.c_str());
  } else if (tool_limited) {
    report_line("(a) no loss: the tool could not send faster than %.0f frames/s",
                zero_loss->sent_rate);
  } else {
    report_line("(a) no loss up to %.0f frames/s", zero_loss->rate);
  }
  const uint64_t broken = [&] {
    std::lock_guard lock(run.tally.mutex);
    return run.tally.broken_packets;
  }();
  report_check(run.report, broken == 0, "(a) corrupted packets at the GUI: %llu",
               static_cast<unsigned long long>(broken));
  if (cpu_before && cpu_after) {
    const double mbit = static_cast<double>(frames_total) * bits_per_frame / 1e6;
    report_line("(a) TNC CPU per received Mbit of frames: %.2f ms (%.2f s for %.1f Mbit)",
                (cpu_after->cpu_seconds - cpu_before->cpu_seconds) * 1000 / mbit,
                cpu_after->cpu_seconds - cpu_before->cpu_seconds, mbit);
  }
}

}  // namespace kestrelis
