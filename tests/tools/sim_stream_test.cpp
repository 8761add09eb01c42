// The simulator's downlink stream read back with the TNC's own receive stages.

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "packet/packet_check.hpp"
#include "sim/bit_stream.hpp"
#include "wire/csp.hpp"
#include "wire/frame.hpp"
#include "wire/frame_detector.hpp"

namespace kestrelis {

namespace {

using Bytes = std::vector<uint8_t>;

struct Received {
  Bytes packet;  // header and payload
  int corrected = 0;
  int sync_end_phase = 0;  // bit phase of the sync word's last bit
};

// Every good packet in `stream`, fed to the frame detector 37 bytes at a time.
std::vector<Received> receive(const Bytes& stream) {
  std::vector<Received> got;
  int sync_phase = -1;
  FrameHandler handler;
  handler.sync_found = [&](StreamPoint at) { sync_phase = at.bit; };
  handler.codeword_complete = [&](std::span<const uint8_t> codeword, StreamPoint) {
    const DecodedCodeword decoded = decode_codeword(codeword);
    if (decoded.corrected < 0 ||
        check_packet(decoded.packet()).verdict != PacketVerdict::accepted) {
      return;
    }
    const auto body = decoded.packet().first(decoded.packet().size() - crc_size);
    got.push_back({Bytes(body.begin(), body.end()), decoded.corrected, sync_phase});
  };
  FrameDetector detector;
  for (size_t i = 0; i < stream.size(); i += 37) {
    detect_frames(detector, std::span(stream).subspan(i, std::min<size_t>(37, stream.size() - i)),
                  handler);
  }
  return got;
}

TEST(SimBitStream, PlantedPacketsComeBackAtEveryBitOffset) {
  constexpr uint64_t seed = 20240611;
  SCOPED_TRACE(testing::Message() << "seed " << seed);
  const auto header =
      csp_header_bytes({.source = satellite_address, .destination_port = telemetry_port});
  int errors_planted = 0;
  for (double ber : {0.0, 0.002}) {
    for (int offset = 0; offset < 8; ++offset) {
      SCOPED_TRACE(testing::Message() << "BER " << ber << ", bit offset " << offset);
      DownlinkStream s;
      s.random.state = seed + static_cast<uint64_t>(offset);
      s.bit_offset = offset;
      s.bit_error_rate = ber;
      std::vector<Received> planted;
      for (size_t size : {0u, 1u, 72u, 140u, 215u}) {
        Bytes packet(header.begin(), header.end());
        while (packet.size() < csp_header_size + size) {
          packet.push_back(static_cast<uint8_t>(next_random(s.random)));
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
      const std::vector<Received> got = receive(take_stream_bytes(s, s.packer.bytes.size()));
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

}  // namespace kestrelis
