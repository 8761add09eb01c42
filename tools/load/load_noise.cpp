// (b) Random noise with frames planted at random bit offsets, every planted
// frame accounted for.

#include <algorithm>
#include <random>

#include "load/load_sections.hpp"
#include "load/load_stream.hpp"
#include "platform/clock.hpp"
#include "system/child_process.hpp"
#include "system/load_sockets.hpp"
#include "wire/csp.hpp"
#include "wire/frame_detector.hpp"

namespace kestrelis {

namespace {

constexpr size_t datagram_max = 2048;
// The tool reads the TNC's UDP queue every `check_every` datagrams and waits
// while it holds more than `queue_limit` bytes. With at most 16 datagrams of
// 2 kB sent between two reads, the queue stays far below the smallest buffer
// the TNC can be given (2 x 208 kB with the kernel's default limits).
constexpr int check_every = 16;
constexpr uint64_t queue_limit = 64 * 1024;
constexpr int64_t pause_ns = 200'000;

// The same detector as the TNC's, run over the bytes sent: a sync word that
// noise happens to form makes it read a false frame, and a real one that
// begins inside it is lost, as the detector is designed. Those frames are
// foreseen here and told apart from frames the TNC lost.
struct ForeseenSyncs {
  FrameDetector detector;
  FrameHandler handler;
  uint64_t bytes_before = 0;            // stream bytes fed before the current call
  std::vector<uint64_t> sync_end_bits;  // stream bit of each accepted sync word's last bit
};

void foresee(ForeseenSyncs& f, std::span<const uint8_t> bytes) {
  detect_frames(f.detector, bytes, f.handler);
  f.bytes_before += bytes.size();
}

// Planted frames whose sync word the detector never accepted, sorted.
std::vector<uint32_t> frames_lost_by_design(const ForeseenSyncs& f,
                                            std::span<const NoiseFrame> planted) {
  std::vector<uint32_t> lost;
  for (const NoiseFrame& p : planted) {
    if (!std::binary_search(f.sync_end_bits.begin(), f.sync_end_bits.end(), p.bit_offset + 31)) {
      lost.push_back(p.seq);
    }
  }
  return lost;
}

}  // namespace

void run_noise_section(LoadRun& run) {
  const uint64_t bits = run.options.noise_bits;
  const uint64_t mean_gap = run.options.quick ? 100'000 : 500'000;
  const uint32_t first = run.next_seq.load();
  NoiseStream stream = make_noise_stream(run.options.seed, bits, mean_gap, first);
  std::mt19937_64 sizes_rng(run.options.seed + 1);
  std::uniform_int_distribution<size_t> size(1, datagram_max);
  std::vector<uint8_t> datagram(datagram_max);
  ForeseenSyncs foreseen;
  foreseen.handler.sync_found = [&foreseen](StreamPoint at) {
    foreseen.sync_end_bits.push_back((foreseen.bytes_before + at.byte) * 8 +
                                     static_cast<uint64_t>(at.bit));
  };

  const auto before = process_stats(run.tnc.pid);
  const auto udp_before = udp_port_stats(run.settings.modem_in_port);
  const uint64_t mark = log_mark(run.tnc);
  const int64_t start = monotonic_ns();
  uint64_t datagrams = 0, bytes = 0, peak_queue = 0, pauses = 0;
  int64_t next_progress = start + 10'000'000'000;
  for (;;) {
    const size_t n = next_noise_bytes(stream, std::span(datagram).first(size(sizes_rng)));
    if (n == 0) break;
    (void)datagram_send(run.udp.fd(), run.modem_in, std::span(datagram).first(n));
    foresee(foreseen, std::span(datagram).first(n));
    ++datagrams;
    bytes += n;
    if (datagrams % check_every != 0) continue;
    for (;;) {
      const auto udp = udp_port_stats(run.settings.modem_in_port);
      if (!udp) break;
      peak_queue = std::max(peak_queue, udp->queued_bytes);
      if (udp->queued_bytes <= queue_limit) break;
      ++pauses;
      sleep_until_ns(monotonic_ns() + pause_ns);
    }
    if (monotonic_ns() > next_progress) {
      progress("(b) %.0f%% of the noise sent",
               100.0 * static_cast<double>(bytes) * 8 / static_cast<double>(bits));
      next_progress += 10'000'000'000;
    }
  }
  run.next_seq = stream.next_seq;
  const auto planted = static_cast<uint32_t>(stream.planted.size());
  const std::vector<uint32_t> lost_by_design = frames_lost_by_design(foreseen, stream.planted);
  // The TNC may still be working through the queue: wait for the last frames.
  uint64_t seen = tally_packets(run.tally);
  int64_t last_progress = monotonic_ms();
  while (count_seqs(run.tally, first, planted, lost_by_design).missing > 0 &&
         monotonic_ms() - last_progress < 3000) {
    sleep_ms(50);
    if (tally_packets(run.tally) != seen) {
      seen = tally_packets(run.tally);
      last_progress = monotonic_ms();
    }
  }
  wait_until_quiet(run, 10000);
  const double seconds = static_cast<double>(monotonic_ns() - start) / 1e9;
  const auto after = process_stats(run.tnc.pid);
  const auto udp_after = udp_port_stats(run.settings.modem_in_port);
  const SeqCount seqs = count_seqs(run.tally, first, planted, lost_by_design);
  const std::vector<uint64_t> lines =
      count_log_lines(run.tnc, mark, {"-----FRAME DETECTED-----", "ReedSolomon: ERROR"});

  report_line(
      "(b) noise: %llu bits (%llu bytes) in %llu datagrams of 1 to %zu bytes, %u frames "
      "(port %u, %zu to %zu-byte payloads) planted at random bit offsets, on average %llu "
      "bits of noise apart",
      static_cast<unsigned long long>(bytes * 8), static_cast<unsigned long long>(bytes),
      static_cast<unsigned long long>(datagrams), datagram_max, planted, digipeater_port,
      load_payload_min, load_payload_max, static_cast<unsigned long long>(mean_gap));
  report_line(
      "(b) pacing: the TNC's UDP receive queue read from /proc/net/udp every %d "
      "datagrams, sending paused while it held over %llu kB; peak %llu kB, %llu pauses",
      check_every, static_cast<unsigned long long>(queue_limit / 1024),
      static_cast<unsigned long long>(peak_queue / 1024), static_cast<unsigned long long>(pauses));
  const uint64_t drops = udp_before && udp_after ? udp_after->drops - udp_before->drops : 0;
  report_check(run.report, drops == 0, "(b) kernel UDP drops at the TNC's port: %llu",
               static_cast<unsigned long long>(drops));
  report_check(
      run.report, seqs.missing == 0 && seqs.duplicated == 0,
      "(b) planted frames received exactly once: %llu of %u (missing %llu, duplicated %llu, "
      "lost inside a false sync in the noise as the detector is designed %llu of %zu "
      "foreseen)",
      static_cast<unsigned long long>(planted - seqs.missing - seqs.duplicated -
                                      seqs.lost_by_design),
      planted, static_cast<unsigned long long>(seqs.missing),
      static_cast<unsigned long long>(seqs.duplicated),
      static_cast<unsigned long long>(seqs.lost_by_design), lost_by_design.size());
  for (uint32_t seq : seqs.first_missing) {
    const auto it = std::find_if(stream.planted.begin(), stream.planted.end(),
                                 [&](const NoiseFrame& f) { return f.seq == seq; });
    report_line("(b) missing: frame %u, planted at bit %llu", seq,
                static_cast<unsigned long long>(it == stream.planted.end() ? 0 : it->bit_offset));
  }
  report_line(
      "(b) sync words accepted: %llu, of which %llu in noise (Reed-Solomon rejected the "
      "codeword)",
      static_cast<unsigned long long>(lines[0]), static_cast<unsigned long long>(lines[1]));
  if (before && after) {
    const double mbit = static_cast<double>(bytes) * 8 / 1e6;
    report_line(
        "(b) throughput: %.1f Mbit/s over %.1f s; TNC CPU per received Mbit of noise: "
        "%.3f ms (%.2f s for %.0f Mbit)",
        mbit / seconds, seconds, (after->cpu_seconds - before->cpu_seconds) * 1000 / mbit,
        after->cpu_seconds - before->cpu_seconds, mbit);
  }
}

}  // namespace kestrelis
