#include "load/load_peers.hpp"

#include <algorithm>

#include "common/kiss_frames.hpp"
#include "load/load_stream.hpp"
#include "platform/clock.hpp"
#include "wire/kiss.hpp"

namespace kestrelis {

namespace {

constexpr int poll_ms = 20;

void count_packet(GuiTally& tally, std::span<const uint8_t> data) {
  const std::optional<LoadPacket> packet = read_load_packet(data);
  if (!packet) return;
  ++tally.packets;
  if (!packet->intact) ++tally.broken_packets;
  tally.last_packet_ns = monotonic_ns();
  tally.highest_seq = std::max(tally.highest_seq, packet->seq);
  if (packet->seq >= tally.counts.size()) {
    tally.counts.resize(std::max<size_t>(size_t{packet->seq} * 2, 1 << 16), 0);
  }
  uint8_t& count = tally.counts[packet->seq];
  if (count < 255) ++count;
}

// Cuts bytes from the TNC's KISS port into frames and counts them into `tally`.
void gui_read_into(KissDeframer& deframer, std::span<const uint8_t> bytes, GuiTally& tally) {
  std::lock_guard lock(tally.mutex);
  read_kiss_frames(deframer, bytes,
                   [&](std::span<const uint8_t> data) { count_packet(tally, data); });
}

}  // namespace

SeqCount count_seqs(const GuiTally& tally, uint32_t first, uint32_t count,
                    std::span<const uint32_t> lost_by_design) {
  std::lock_guard lock(tally.mutex);
  SeqCount result;
  for (uint64_t seq = first; seq < uint64_t{first} + count; ++seq) {
    const uint8_t n = seq < tally.counts.size() ? tally.counts[seq] : 0;
    if (n == 0 && std::binary_search(lost_by_design.begin(), lost_by_design.end(), seq)) {
      ++result.lost_by_design;
    } else if (n == 0) {
      ++result.missing;
      if (result.first_missing.size() < 20) result.first_missing.push_back(uint32_t(seq));
    } else if (n > 1) {
      ++result.duplicated;
    }
  }
  return result;
}

uint64_t tally_packets(const GuiTally& tally, int64_t* last_packet_ns) {
  std::lock_guard lock(tally.mutex);
  if (last_packet_ns != nullptr) *last_packet_ns = tally.last_packet_ns;
  return tally.packets;
}

bool gui_connect(GuiClient& client, uint16_t port, GuiTally& tally, int timeout_ms) {
  client.link = KissClient(port, timeout_ms);
  if (!client.link.connected()) return false;
  client.stop = false;
  client.reader = std::thread([&client, &tally] {
    KissDeframer deframer(tnc_frame_capacity);
    std::vector<uint8_t> buffer(1 << 16);
    const int fd = client.link.fd();
    while (!client.stop) {
      if (!wait_readable(fd, poll_ms * 5)) continue;
      const long n = stream_receive(fd, buffer);
      if (n <= 0) break;
      gui_read_into(deframer, std::span(buffer).first(static_cast<size_t>(n)), tally);
    }
  });
  return true;
}

bool gui_send_request(GuiClient& client, std::string_view text) {
  return client.link.send_frame(text);
}

void gui_disconnect(GuiClient& client) {
  client.stop = true;
  if (client.reader.joinable()) client.reader.join();
  client.link.close();
}

bool start_modem_sink(ModemSink& sink) {
  if (sink.listener.port() == 0) return false;
  sink.thread = std::thread([&sink] {
    while (!sink.stop) {
      const std::optional<Datagram> datagram = sink.listener.receive(poll_ms * 5);
      if (!datagram) continue;
      sink.last_ns = datagram->arrived_ns;
      ++sink.datagrams;
    }
  });
  return true;
}

void stop_modem_sink(ModemSink& sink) {
  sink.stop = true;
  if (sink.thread.joinable()) sink.thread.join();
}

bool wait_for_datagram(const ModemSink& sink, uint64_t count, int timeout_ms) {
  const int64_t deadline = monotonic_ms() + timeout_ms;
  while (sink.datagrams <= count) {
    if (monotonic_ms() >= deadline) return false;
    sleep_ms(5);
  }
  return true;
}

}  // namespace kestrelis
