// The downlink with Acquisition = robust, and with soft input: a delivered
// frame prints and sends exactly what the described acquisition does for it;
// a rejected candidate prints nothing, or one line at VerboseLevel 3. And the
// decoder statistics of both acquisitions, counted exactly on a known stream.

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "app/downlink.hpp"
#include "app/statistics.hpp"
#include "radio/soft_stream.hpp"
#include "radio/test_bit_stream.hpp"
#include "support/station_capture.hpp"
#include "text/format.hpp"
#include "wire/bytes.hpp"
#include "wire/csp.hpp"

namespace kestrelis {

namespace {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

// `frames` back to back behind `lead_bits` zero bits, followed by 16 zero bits.
Bytes stream_of(const std::vector<Bytes>& frames, size_t lead_bits) {
  BitPacker p;
  pack_zero_bits(p, lead_bits);
  for (const Bytes& f : frames) pack_bytes(p, f);
  pack_zero_bits(p, 16);
  pad_to_byte(p);
  return p.bytes;
}

Bytes frame_for(uint8_t port, const Bytes& payload, uint8_t source = satellite_address) {
  return build_frame(csp_header_bytes({.source = source, .destination_port = port}), payload);
}

// A packet to `port` whose CRC is the payload's own with `crc_flips` applied.
Bytes frame_with_crc(uint8_t port, const Bytes& payload, uint32_t crc_flips) {
  const auto header = csp_header_bytes({.source = satellite_address, .destination_port = port});
  Bytes packet(header.begin(), header.end());
  packet.insert(packet.end(), payload.begin(), payload.end());
  packet.resize(packet.size() + crc_size);
  store_be32(std::span(packet).last<4>(), crc32c(payload) ^ crc_flips);
  return frame_of_packet(packet);
}

// `frame` with the byte at each `first` xor-ed with its `second`.
Bytes with_flips(Bytes frame, const std::vector<std::pair<size_t, uint8_t>>& flips) {
  for (const auto& [at, mask] : flips) frame[at] ^= mask;
  return frame;
}

// `frame` with `count` codeword bytes, `step` apart from the first, xor-ed with `mask`.
Bytes damaged(Bytes frame, size_t count, size_t step, uint8_t mask) {
  for (size_t k = 0; k < count; ++k) frame[frame_prefix_size + step * k] ^= mask;
  return frame;
}

// Feeds `stream` to the station's acquisition in datagrams of `piece` bytes
// (0: random sizes, seed 7); for soft input, as one soft value per bit.
void feed(StationCapture& out, const Bytes& stream, size_t piece) {
  Acquirer acquirer = acquirer_for(out.station.config);
  const Bytes input = acquirer.soft ? soft_datagram_of(soft_of(stream)) : stream;
  std::mt19937 rng(7);
  for (size_t at = 0, n; at < input.size(); at += n) {
    n = std::min(piece != 0 ? piece : 1 + rng() % 60, input.size() - at);
    receive_datagram(out.station, acquirer, std::span(input).subspan(at, n), 0);
  }
}

// The console lines, then the GUI frames, each behind "gui: ".
Lines receive(const TncConfig& config, const Bytes& stream, size_t piece) {
  StationCapture out(config);
  feed(out, stream, piece);
  Lines said = out.console();
  for (const std::string& frame : out.gui()) said.push_back("gui: " + frame);
  return said;
}

TncConfig robust_config(int verbose_level = 1, ModemInput input = ModemInput::bits) {
  return {.VerboseLevel = verbose_level,
          .Input = input,
          .Acquisition = AcquisitionMode::robust,
          .SyncBitErrors = 3};
}

TEST(RobustDownlink, DeliveredFramesPrintAndSendWhatTheDescribedAcquisitionDoes) {
  const std::vector<Bytes> frames = {
      list_frame,
      damaged(frame_for(telemetry_port, {0x30, 0x5A, 0x00, 0xFA, 0x65, 0x53, 0xF1, 0x00}), 16, 2,
              0x18),
      frame_for(digipeater_port, {0, 'A', 0xC0}),
      frame_for(digipeater_message_port, {0, 3, '5', '%', 's'}),
      frame_for(digipeater_message_port, {3}),
      frame_for(telemetry_port, {0x20, 0x08}),
      frame_for(2, {}),
      frame_with_crc(14, {0, 'T'}, 0x00100001),  // CRC tolerated
  };
  const Lines described = receive(TncConfig{}, stream_of(frames, 0), 2048);
  ASSERT_EQ(std::ranges::count_if(described, [](auto& l) { return l.starts_with("gui: "); }), 5);
  for (ModemInput input : {ModemInput::bits, ModemInput::soft8}) {
    for (size_t phase : {0u, 3u, 7u}) {
      for (size_t piece : {1u, 0u, 2048u}) {
        SCOPED_TRACE(testing::Message() << "soft " << (input == ModemInput::soft8) << ", phase "
                                        << phase << ", pieces of " << piece);
        EXPECT_EQ(receive(robust_config(1, input), stream_of(frames, phase), piece), described);
      }
    }
  }
}

// Every kind of outcome once, and three frames the two acquisitions differ on.
Bytes known_stream() {
  return stream_of(
      {
          frame_for(digipeater_port, {0, 'A'}),
          damaged(frame_for(telemetry_port, {0x30, 0x60}), 5, 3, 0x42),  // unknown version
          damaged(frame_for(digipeater_port, {0, 'L', 'o', 's', 't'}), 17, 2, 0xFF),
          frame_with_crc(29, {0, 3, 'H', 'i'}, 0xFF00FF00),         // CRC dropped
          frame_with_crc(29, {0, 3, 'H', 'o'}, 0x00000100),         // CRC tolerated: message
          frame_of_packet(Bytes{0x81, 0x01, 0x0E, 0x00, 0, 0, 0}),  // too small
          // A wrong bit in the first sync byte, two in the length field's
          // first two bytes: both acquisitions take it, the robust one
          // correcting two length bits.
          with_flips(frame_for(2, {}), {{0, 0x10}, {4, 0x01}, {5, 0x80}}),
          frame_for(digipeater_port, {0}, 25),      // self-generated
          frame_for(digipeater_port, {0}, 2),       // ignored
          frame_for(digipeater_message_port, {3}),  // too short
          with_flips(list_frame, {{3, 0x03}}),      // two wrong bits in the last sync byte
          // N 42 read as 34: the described acquisition fails on it.
          with_flips(frame_for(digipeater_port, {0, 'B'}), {{6, 0x08}}),
      },
      3);
}

TEST(Statistics, CountedExactlyOnAKnownStreamInBothAcquisitions) {
  const Bytes stream = known_stream();
  const std::string bits = "Statistics: " + std::to_string(8 * stream.size()) + " bits, ";
  const Lines described = {
      bits +
          "11 sync words, 0 length bits corrected; codewords 9 decoded, 2 failed, 5 bytes "
          "corrected (at most 5 in one); CRC 6 good, 1 tolerated, 1 dropped, 1 too small\n",
      "Statistics: packets 1 telemetry, 1 digipeater, 1 message, 1 self-generated, 1 ignored, 1 "
      "unknown port, 1 too short; GUI frames 3 sent, 0 dropped without a GUI; 0 packets not "
      "logged\n"};
  const Lines robust = {
      bits +
          "12 sync words, 3 length bits corrected; codewords 11 decoded, 1 failed, 5 bytes "
          "corrected (at most 5 in one); CRC 8 good, 1 tolerated, 1 dropped, 1 too small\n",
      "Statistics: packets 1 telemetry, 2 digipeater, 1 message, 2 self-generated, 1 ignored, 1 "
      "unknown port, 1 too short; GUI frames 0 sent, 4 dropped without a GUI; 0 packets not "
      "logged\n"};
  const Lines rejected = {
      "Rejected candidate: bit 787, 0 sync bits wrong, length 45, reason Reed-Solomon\n",
      "Rejected candidate: bit 1203, 0 sync bits wrong, length 44, reason CRC\n",
      "Rejected candidate: bit 2019, 0 sync bits wrong, length 39, reason length\n"};
  // Soft values of the same bits: the robust search's counts, and 9 frames
  // delivered by hard decoding; 3 candidates fail, each after 10 erasure decodes.
  Lines soft = robust;
  soft.push_back(
      "Statistics: soft input: 0 frames needed erasures, 0 erasures in all; 42 decodes, 1.00 per "
      "delivered frame\n");
  // The GUI frames to the sink or to a socket without a GUI; the statistics;
  // the rejected candidates at VerboseLevel 3, or none at VerboseLevel 1.
  const std::tuple<const char*, AcquisitionMode, ModemInput, bool, Lines, Lines> cases[] = {
      {"described", AcquisitionMode::described, ModemInput::bits, true, described, {}},
      {"robust", AcquisitionMode::robust, ModemInput::bits, false, robust, rejected},
      {"described, soft", AcquisitionMode::described, ModemInput::soft8, false, soft, {}}};
  for (const auto& [name, acquisition, input, gui_to_sink, lines, rejections] : cases) {
    SCOPED_TRACE(name);
    StationCapture out({.VerboseLevel = rejections.empty() ? 1 : 3,
                        .Input = input,
                        .Acquisition = acquisition,
                        .SyncBitErrors = 2},
                       gui_to_sink);
    feed(out, stream, 100);
    EXPECT_EQ(statistics_lines(out.station.statistics, out.station.gui), lines);
    Lines said;
    std::ranges::copy_if(out.console(), std::back_inserter(said), [](const std::string& l) {
      return l.starts_with("Rejected candidate: ");
    });
    EXPECT_EQ(said, rejections);
  }
}

// A frame to the digipeater port, N = 100, with `doubtful` wrong bytes that
// the modem was unsure of (every bit near 0) and `sure` wrong bytes it was
// sure of, as soft values.
std::vector<int8_t> damaged_soft_frame(int doubtful, int sure, uint32_t crc_flips) {
  const Bytes frame = damaged(frame_with_crc(digipeater_port, Bytes(60, 0x5A), crc_flips),
                              static_cast<size_t>(doubtful + sure), 3, 0x6C);
  std::vector<int8_t> soft = soft_of(stream_of({frame}, 0));
  for (int i = 0; i < doubtful; ++i) {
    const size_t at = 8 * (frame_prefix_size + 3 * static_cast<size_t>(i));
    for (size_t b = at; b < at + 8; ++b) soft[b] = soft[b] >= 0 ? 2 : -3;
  }
  return soft;
}

// Expected from 2t + s <= 32: the wrong bytes ranked first are the doubtful
// ones, so e erasures (e = 2, 4, ... 20) leave t = doubtful + sure - e wrong
// bytes while e <= doubtful, and the first e that fits is taken.
TEST(SoftDownlink, DoubtfulBytesAreErasedWithinTheBoundTheCapAndTheExactCrc) {
  // Doubtful and sure wrong bytes, CRC bits flipped, bytes erased (-1: not
  // delivered; 0: by hard decoding).
  const std::tuple<const char*, int, int, uint32_t, int> cases[] = {
      {"16 doubtful: hard decoding", 16, 0, 0, 0},
      {"17 doubtful", 17, 0, 0, 2},
      {"26 doubtful: the most 20 erasures mend", 26, 0, 0, 20},
      {"27 doubtful: would need 22, beyond the cap", 27, 0, 0, -1},
      {"10 doubtful, 8 sure", 10, 8, 0, 4},
      {"4 doubtful, 14 sure", 4, 14, 0, 4},
      {"2 doubtful, 16 sure: beyond 2t + s <= 32", 2, 16, 0, -1},
      {"CRC a bit off, 16 doubtful: tolerated by hard decoding", 16, 0, 0x10, 0},
      {"CRC a bit off, 20 doubtful: no tolerance after erasures", 20, 0, 0x10, -1},
  };
  for (const auto& [name, doubtful, sure, crc_flips, erased] : cases) {
    SCOPED_TRACE(name);
    const std::vector<int8_t> soft = damaged_soft_frame(doubtful, sure, crc_flips);
    StationCapture out(robust_config(1, ModemInput::soft8));
    Acquirer acquirer = acquirer_for(out.station.config);
    receive_datagram(out.station, acquirer, soft_datagram_of(soft), 0);
    const std::string rs_line =
        erased > 0 ? format_text("ReedSolomon: OK (Corrected %d bytes, %d erased)\r\n",
                                 doubtful + sure, erased)
                   : format_text("ReedSolomon: OK (Corrected %d bytes)\r\n", doubtful);
    EXPECT_EQ(std::ranges::count(out.console(), rs_line), erased >= 0 ? 1 : 0);
    EXPECT_EQ(out.gui().size(), erased >= 0 ? 1u : 0u);
    const int decodes = 1 + (erased >= 0 ? erased : soft_max_erasures) / 2;
    EXPECT_EQ(statistics_lines(out.station.statistics, out.station.gui).back(),
              format_text("Statistics: soft input: %d frames needed erasures, %d erasures in all; "
                          "%d decodes, %d.00 per delivered frame\n",
                          erased > 0, std::max(erased, 0), decodes, erased >= 0 ? decodes : 0));
  }
}

}  // namespace

}  // namespace kestrelis
