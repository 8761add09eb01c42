// The simulator's downlink stream read back with the TNC's own receive pieces.

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "packet/csp.hpp"
#include "radio/bytes.hpp"
#include "radio/frame.hpp"
#include "radio/frame_detector.hpp"
#include "radio/reed_solomon.hpp"
#include "sim/bit_stream.hpp"

namespace {

using Bytes = std::vector<uint8_t>;

struct Received {
  Bytes packet;  // header and payload
  int corrected = 0;
  int sync_end_phase = 0;
};

// The receive side: every good packet in the stream fed to it so far.
struct StreamReceiver {
  FrameDetector detector;
  int sync_phase = -1;
  std::vector<Received> got;
};

void feed(StreamReceiver& r, std::span<const uint8_t> bytes) {
  FrameHandler handler;
  handler.sync_found = [&](StreamPoint at) { r.sync_phase = at.bit; };
  handler.codeword_complete = [&](std::span<const uint8_t> codeword, StreamPoint) {
    Bytes word(codeword.begin(), codeword.end());
    const int pad = 255 - static_cast<int>(word.size());
    std::optional<RsCodec> rs = rs_init(pad);
    if (!rs) return;
    apply_randomizer(word);
    const int corrected = rs_decode(*rs, word, pad);
    if (corrected < 0) return;
    const auto packet = std::span<const uint8_t>(word).first(word.size() - 32);
    const auto body = packet.first(packet.size() - 4);
    if (load_be32(packet.last<4>()) != crc32c(body)) return;
    r.got.push_back({Bytes(body.begin(), body.end()), corrected, r.sync_phase});
  };
  detect_frames(r.detector, bytes, handler);
}

TEST(SimBitStream, PlantedPacketsComeBackAtEveryBitOffset) {
  constexpr uint64_t seed = 20240611;
  SCOPED_TRACE(testing::Message() << "seed " << seed);
  int errors_planted = 0;
  for (double ber : {0.0, 0.002}) {
    for (int offset = 0; offset < 8; ++offset) {
      SCOPED_TRACE(testing::Message() << "BER " << ber << ", bit offset " << offset);
      DownlinkStream s;
      s.random.state = seed + static_cast<uint64_t>(offset);
      s.bit_offset = offset;
      s.bit_error_rate = ber;
      std::vector<Received> planted;
      for (size_t size : {size_t{0}, size_t{1}, size_t{72}, size_t{140}, size_t{215}}) {
        Bytes packet(csp_header_size + size);
        const auto header =
            csp_header_bytes({.source = satellite_address, .destination_port = telemetry_port});
        std::copy(header.begin(), header.end(), packet.begin());
        for (size_t i = csp_header_size; i < packet.size(); ++i) {
          packet[i] = static_cast<uint8_t>(next_random(s.random));
        }
        append_idle(s, random_below(s.random, 300));
        const PlantedFrame p =
            append_frame(s, build_frame(header, std::span(packet).subspan(csp_header_size)));
        ASSERT_EQ(p.phase, offset);
        ASSERT_LE(p.byte_errors, 16);
        errors_planted += p.byte_errors;
        planted.push_back({packet, p.byte_errors, (offset + 7) % 8});
      }
      append_idle(s, 64);
      const Bytes stream = take_stream_bytes(s, s.pending.size());
      StreamReceiver receiver;
      for (size_t i = 0; i < stream.size(); i += 37) {
        feed(receiver, std::span(stream).subspan(i, std::min<size_t>(37, stream.size() - i)));
      }
      const std::vector<Received>& got = receiver.got;
      ASSERT_EQ(got.size(), planted.size());
      for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].packet, planted[i].packet) << "packet " << i;
        EXPECT_EQ(got[i].corrected, planted[i].corrected) << "packet " << i;
        EXPECT_EQ(got[i].sync_end_phase, planted[i].sync_end_phase) << "packet " << i;
      }
    }
  }
  EXPECT_GT(errors_planted, 0);
}

}  // namespace
