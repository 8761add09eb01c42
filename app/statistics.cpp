#include "app/statistics.hpp"

#include "console/console_log.hpp"

namespace kestrelis {

namespace {

unsigned long long read(const std::atomic<uint64_t>& counter) {
  return counter.load(std::memory_order_relaxed);
}

unsigned long long packets(const DecoderStatistics& s, PacketAction action) {
  return read(s.packets[static_cast<size_t>(action)]);
}

}  // namespace

std::vector<std::string> statistics_lines(const DecoderStatistics& s, const GuiLink& gui) {
  using enum PacketAction;
  std::vector<std::string> lines = {
      format_text("Statistics: %llu bits, %llu sync words, %llu length bits corrected; codewords "
                  "%llu decoded, %llu failed, %llu bytes corrected (at most %llu in one); CRC "
                  "%llu good, %llu tolerated, %llu dropped, %llu too small\n",
                  read(s.bits_received), read(s.sync_words), read(s.length_bits_corrected),
                  read(s.codewords_decoded), read(s.codewords_failed), read(s.bytes_corrected),
                  read(s.most_bytes_corrected), read(s.crc_accepted), read(s.crc_tolerated),
                  read(s.crc_dropped), read(s.packets_too_small)),
      format_text(
          "Statistics: packets %llu telemetry, %llu digipeater, %llu message, %llu "
          "self-generated, %llu ignored, %llu unknown port, %llu too short; GUI frames "
          "%llu sent, %llu dropped without a GUI; %llu packets not logged\n",
          packets(s, telemetry), packets(s, digipeater_packet), packets(s, digipeater_message),
          packets(s, self_generated), packets(s, ignored), packets(s, unknown_port),
          packets(s, too_short), static_cast<unsigned long long>(gui.frames_sent()),
          static_cast<unsigned long long>(gui.frames_dropped()), read(s.packets_not_logged)),
  };
  if (s.soft_input) {
    const unsigned long long delivered = read(s.crc_accepted) + read(s.crc_tolerated);
    lines.push_back(format_text(
        "Statistics: soft input: %llu frames needed erasures, %llu erasures in all; %llu "
        "decodes, %.2f per delivered frame\n",
        read(s.erasure_frames), read(s.erasures), read(s.decodes),
        delivered == 0
            ? 0.0
            : static_cast<double>(read(s.frame_decodes)) / static_cast<double>(delivered)));
  }
  return lines;
}

}  // namespace kestrelis
